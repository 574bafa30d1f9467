// Owning byte buffer used for every byte value that passes through the library. Its length is an
// int: a negative length, or content that would pass INT_MAX bytes, raises std::length_error.
#pragma once

#include <vector>

#include "tessal/export.h"

class TESSAL_API ByteArray {
public:
    ByteArray();
    ByteArray(const char* data, int len);
    ByteArray(const unsigned char* data, unsigned long len);
    ByteArray(const ByteArray& other);
    virtual ~ByteArray();

    ByteArray& operator=(const ByteArray& other);
    bool operator==(ByteArray& other);
    bool operator!=(ByteArray& other);
    ByteArray& operator+=(ByteArray& other);

    void Copy(const unsigned char* data, int len);
    void Empty();
    bool IsEmpty();
    void append(const unsigned char* data, int len);
    const unsigned char* data() const;
    int length() const;

private:
    std::vector<unsigned char> m_bytes;
};
