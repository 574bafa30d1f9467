#include "supervision_text.h"

#include <cctype>
#include <cerrno>
#include <cstring>

namespace parlux {

int parseTimeout(const char* text) {
    if (!text || !*text || std::strlen(text) >= 64) return kDefaultTimeoutMs;
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text, &end, 10);
    bool digits = false;
    for (const char* p = text; p < end; ++p) digits = digits || std::isdigit(static_cast<unsigned char>(*p));
    if (!digits || *end != '\0' || errno == ERANGE) return kDefaultTimeoutMs;
    if (value < 1000 || value > 3600000) return kDefaultTimeoutMs;
    return static_cast<int>(value);
}

int readTimeout() { return parseTimeout(std::getenv("PARLUX_TIMEOUT_MS")); }

std::string quoteArgument(const std::string& text) {
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : text) {
        if (c == '\\') {
            ++backslashes;
        } else if (c == '"') {
            out.append(backslashes * 2 + 1, '\\');
            out += c;
            backslashes = 0;
        } else {
            out.append(backslashes, '\\');
            out += c;
            backslashes = 0;
        }
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

// The rules the Windows runtime applies when it splits a command line.
std::vector<std::string> splitQuotedArguments(const std::string& line) {
    std::vector<std::string> args;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) break;
        std::string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
            size_t backslashes = 0;
            while (i < line.size() && line[i] == '\\') ++backslashes, ++i;
            if (i < line.size() && line[i] == '"') {
                arg.append(backslashes / 2, '\\');
                if (backslashes % 2) {
                    arg += '"';
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                arg.append(backslashes, '\\');
                if (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) arg += line[i++];
            }
        }
        args.push_back(arg);
    }
    return args;
}

}  // namespace parlux
