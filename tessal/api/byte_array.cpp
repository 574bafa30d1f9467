// ByteArray: an owning, growable byte buffer with deep copies.
#include "tessal/byte_array.h"

#include <climits>
#include <stdexcept>

namespace {
// The length is reported as an int: a buffer never holds more than INT_MAX bytes.
void CheckLength(long long len) {
    if (len < 0 || len > INT_MAX) throw std::length_error("vector too long");
}

void CheckGrowth(size_t size, size_t added) {
    if (added > static_cast<size_t>(INT_MAX) - size) throw std::length_error("vector too long");
}
}  // namespace

ByteArray::ByteArray() = default;

ByteArray::ByteArray(const char* data, int len) {
    CheckLength(len);
    if (len > 0) m_bytes.assign(data, data + len);
}

ByteArray::ByteArray(const unsigned char* data, unsigned long len) {
    if (len > static_cast<unsigned long>(INT_MAX)) throw std::length_error("vector too long");
    if (len > 0) m_bytes.assign(data, data + len);
}

ByteArray::ByteArray(const ByteArray& other) = default;

ByteArray::~ByteArray() = default;

ByteArray& ByteArray::operator=(const ByteArray& other) {
    if (this != &other) m_bytes = other.m_bytes;
    return *this;
}

bool ByteArray::operator==(ByteArray& other) { return m_bytes == other.m_bytes; }

bool ByteArray::operator!=(ByteArray& other) { return !(*this == other); }

ByteArray& ByteArray::operator+=(ByteArray& other) {
    CheckGrowth(m_bytes.size(), other.m_bytes.size());
    if (&other == this) {
        std::vector<unsigned char> copy(m_bytes);
        m_bytes.insert(m_bytes.end(), copy.begin(), copy.end());
    } else {
        m_bytes.insert(m_bytes.end(), other.m_bytes.begin(), other.m_bytes.end());
    }
    return *this;
}

void ByteArray::Copy(const unsigned char* data, int len) {
    CheckLength(len);
    if (len == 0) {
        m_bytes.clear();
        return;
    }
    // The source may lie inside this buffer.
    std::vector<unsigned char> copy(data, data + len);
    m_bytes.swap(copy);
}

void ByteArray::Empty() { m_bytes.clear(); }

bool ByteArray::IsEmpty() { return m_bytes.empty(); }

void ByteArray::append(const unsigned char* data, int len) {
    if (len > 0) CheckGrowth(m_bytes.size(), static_cast<size_t>(len));
    for (int i = 0; i < len; ++i) m_bytes.push_back(data[i]);
}

const unsigned char* ByteArray::data() const { return m_bytes.data(); }

int ByteArray::length() const { return static_cast<int>(m_bytes.size()); }
