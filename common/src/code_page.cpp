#include "kit/code_page.h"

#include "code_page_convert.h"

#include <errno.h>
#include <iconv.h>

#include <cstdlib>
#include <utility>

namespace kit {
namespace {

// Bytes to skip past an unconvertible sequence: a whole UTF-8 character, else one byte.
size_t SkipLength(const std::string& from, const char* in, size_t left) {
    if (from != "UTF-8") return 1;
    unsigned char lead = static_cast<unsigned char>(*in);
    size_t n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    for (size_t i = 1; i < n; ++i) {
        if (i >= left || (static_cast<unsigned char>(in[i]) & 0xC0) != 0x80) return i;
    }
    return n;
}

}  // namespace

std::string AnsiCodePage() {
    const char* value = std::getenv("TESSAL_ANSI_CODEPAGE");
    return (value && *value) ? std::string(value) : std::string("GBK");
}

bool ConvertText(const std::string& text, const std::string& from, const std::string& to,
                 const std::string* replacement, std::string& result) {
    if (text.empty()) {
        result.clear();
        return true;
    }
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;

    std::string out;
    std::string chunk(4096, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    while (inLeft > 0) {
        char* dst = &chunk[0];
        size_t dstLeft = chunk.size();
        size_t rc = iconv(cd, &in, &inLeft, &dst, &dstLeft);
        out.append(chunk.data(), chunk.size() - dstLeft);
        if (rc != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) continue;
        // EILSEQ or EINVAL: an unconvertible or truncated sequence; skip past it.
        if (replacement == nullptr) {
            iconv_close(cd);
            return false;
        }
        out += *replacement;
        size_t skip = SkipLength(from, in, inLeft);
        in += skip;
        inLeft -= skip;
    }
    char* dst = &chunk[0];
    size_t dstLeft = chunk.size();
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    out.append(chunk.data(), chunk.size() - dstLeft);
    iconv_close(cd);
    result = std::move(out);
    return true;
}

}  // namespace kit
