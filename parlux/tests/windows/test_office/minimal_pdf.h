// A small but complete PDF (one page, one line of text), as the test office exports.
#pragma once

#include <string>

namespace test_office {

// The bytes of a one-page PDF showing `text` (ASCII; other characters become "?").
std::string MinimalPdf(const std::string& text);

}  // namespace test_office
