#include "token/der_writer.h"

#include <algorithm>
#include <cstring>

namespace der {

size_t LengthOfLength(size_t length) {
    size_t n = 1;
    if (length >= 0x80)
        for (size_t rest = length; rest; rest >>= 8) ++n;
    return n;
}

size_t TlvSize(size_t content) { return 1 + LengthOfLength(content) + content; }

void AppendHeader(Bytes& out, unsigned char tag, size_t length) {
    out.push_back(tag);
    if (length < 0x80) {
        out.push_back(static_cast<unsigned char>(length));
        return;
    }
    size_t bytes = LengthOfLength(length) - 1;
    out.push_back(static_cast<unsigned char>(0x80 | bytes));
    for (size_t i = bytes; i-- > 0;) out.push_back(static_cast<unsigned char>(length >> (8 * i)));
}

void AppendTlv(Bytes& out, unsigned char tag, const unsigned char* content, size_t length) {
    AppendHeader(out, tag, length);
    if (length) out.insert(out.end(), content, content + length);
}

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

void SortForSetOf(std::vector<Bytes>& elements) {
    if (elements.size() > 1)
        std::stable_sort(elements.begin(), elements.end(), [](const Bytes& a, const Bytes& b) {
            int order = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
            return order != 0 ? order < 0 : a.size() < b.size();
        });
}

}  // namespace der
