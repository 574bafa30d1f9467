// Which sheets of an .xlsx package are chart sheets, from its workbook part and relationships.
#pragma once

#include <string>
#include <vector>

namespace parlux {

// One flag per sheet of xl/workbook.xml, in order: whether its relationship in
// xl/_rels/workbook.xml.rels is a chart sheet. Empty when the parts do not parse.
std::vector<bool> chartSheetFlags(const std::string& workbookXml, const std::string& relationshipsXml);

}  // namespace parlux
