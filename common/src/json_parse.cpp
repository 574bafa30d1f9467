#include "kit/json_parse.h"

namespace kit {

bool ParseJson(const std::string& text, rapidjson::Document& doc, unsigned maxDepth) {
    bool parsed = false;
    auto generator = [&](rapidjson::Document& target) {
        parsed = ParseJsonEvents(text, target, maxDepth);
        return parsed;
    };
    doc.SetNull();
    doc.Populate(generator);
    if (!parsed) doc.SetNull();
    return parsed;
}

}  // namespace kit
