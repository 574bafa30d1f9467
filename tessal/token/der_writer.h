// Writing DER by hand: tag and length headers for structures whose contents are known.
#pragma once

#include <cstddef>
#include <vector>

namespace der {

using Bytes = std::vector<unsigned char>;

constexpr unsigned char kInteger = 0x02, kOctetString = 0x04, kNull = 0x05, kObject = 0x06, kSequence = 0x30,
                        kSet = 0x31, kContextZero = 0xA0, kContextOne = 0xA1;

// How many bytes a definite length takes.
size_t LengthOfLength(size_t length);
// The size of a whole tag-length-value with `content` bytes of value.
size_t TlvSize(size_t content);
void AppendHeader(Bytes& out, unsigned char tag, size_t length);
// A whole tag-length-value.
void AppendTlv(Bytes& out, unsigned char tag, const unsigned char* content, size_t length);
void Append(Bytes& out, const Bytes& more);
// The elements of a SET OF in DER order, as OpenSSL sorts them: by their bytes, a shorter
// encoding that is a prefix of a longer one first.
void SortForSetOf(std::vector<Bytes>& elements);

}  // namespace der
