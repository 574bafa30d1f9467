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

// The whole file, or standard input for "-" (which only one input of a command may name);
// throws std::runtime_error naming the path.
std::string ReadFile(const std::string& path);
// Writes `data` to `path` through a temporary file renamed into place (no partial file is left
// at `path`); "-" writes to standard output.
void WriteOutput(const std::string& path, const std::string& data);

std::string Base64Encode(const std::string& bytes);
// Throws std::runtime_error naming `what` when `text` is not Base64.
std::string Base64Decode(const std::string& text, const std::string& what);
// A DER certificate as PEM.
std::string CertificatePem(const std::string& der);

// One named result. Text shows it as "label: text"; JSON as the label in camelCase ("time-stamp"
// -> "timeStamp", "subject CN" -> "subjectCN") with the value's own type: a string, a boolean
// ("yes"/"no" in text), an integer, or a date (ISO 8601 in UTC; text keeps the given wording).
struct Field {
    enum class Kind { String, Boolean, Integer, Date };
    Field(std::string label, std::string text) : label(std::move(label)), text(std::move(text)) {}
    Field(std::string label, const char* text) : Field(std::move(label), std::string(text)) {}
    Field(std::string label, bool value);
    Field(std::string label, long long value);
    // `iso` is the JSON form of the date, `text` what the text output shows.
    static Field Date(std::string label, std::string text, std::string iso);

    std::string label, text;
    Kind kind = Kind::String;
    long long integer = 0;
    std::string iso;
};
using Fields = std::vector<Field>;
std::string FieldsText(const Fields& fields);
std::string FieldsJson(const Fields& fields);
// "time-stamp" -> "timeStamp": the one key style of the tool's JSON.
std::string JsonKey(const std::string& label);

}  // namespace tessal_tool
