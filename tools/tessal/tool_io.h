// Files, Base64 and JSON for the tessal tool.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace tessal_tool {

// Standard output for the tool alone: the library's own lines on standard output go to standard
// error from here on. Called once, first; Output() is that stream after.
void SeparateOutput();
FILE* Output();

// The whole file; throws std::runtime_error naming the path.
std::string ReadFile(const std::string& path);
// Writes `data` to `path` through a temporary file renamed into place (no partial file is left
// at `path`); "-" writes to standard output.
void WriteOutput(const std::string& path, const std::string& data);

std::string Base64Encode(const std::string& bytes);
// Throws std::runtime_error naming `what` when `text` is not Base64.
std::string Base64Decode(const std::string& text, const std::string& what);
// A DER certificate as PEM.
std::string CertificatePem(const std::string& der);

// Named text fields, in order: printed as "name: value" lines or as one JSON object.
using Fields = std::vector<std::pair<std::string, std::string>>;
std::string FieldsText(const Fields& fields);
std::string FieldsJson(const Fields& fields);

}  // namespace tessal_tool
