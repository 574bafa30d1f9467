#include "ooxml_sheets.h"

#include <tinyxml2.h>

#include <cstring>
#include <map>

namespace parlux {
namespace {

// The local part of a possibly prefixed name.
const char* Local(const char* name) {
    const char* colon = std::strrchr(name, ':');
    return colon ? colon + 1 : name;
}

const tinyxml2::XMLElement* Child(const tinyxml2::XMLElement* parent, const char* local) {
    for (auto* e = parent ? parent->FirstChildElement() : nullptr; e; e = e->NextSiblingElement())
        if (std::strcmp(Local(e->Name()), local) == 0) return e;
    return nullptr;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::vector<bool> chartSheetFlags(const std::string& workbookXml, const std::string& relationshipsXml) {
    tinyxml2::XMLDocument workbook, relationships;
    if (workbook.Parse(workbookXml.data(), workbookXml.size()) != tinyxml2::XML_SUCCESS ||
        relationships.Parse(relationshipsXml.data(), relationshipsXml.size()) != tinyxml2::XML_SUCCESS)
        return {};
    std::map<std::string, bool> chartById;
    for (auto* r = relationships.RootElement() ? relationships.RootElement()->FirstChildElement() : nullptr; r;
         r = r->NextSiblingElement()) {
        const char* id = r->Attribute("Id");
        const char* type = r->Attribute("Type");
        if (id && type) chartById[id] = EndsWith(type, "/chartsheet");
    }
    std::vector<bool> flags;
    const tinyxml2::XMLElement* sheets = Child(workbook.RootElement(), "sheets");
    for (auto* s = sheets ? sheets->FirstChildElement() : nullptr; s; s = s->NextSiblingElement()) {
        if (std::strcmp(Local(s->Name()), "sheet") != 0) continue;
        bool chart = false;
        for (auto* a = s->FirstAttribute(); a; a = a->Next())
            if (std::strcmp(a->Name(), "id") != 0 && std::strcmp(Local(a->Name()), "id") == 0)
                chart = chartById.count(a->Value()) && chartById[a->Value()];
        flags.push_back(chart);
    }
    return flags;
}

}  // namespace parlux
