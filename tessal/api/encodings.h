// Text and byte encodings shared across the library.
#pragma once

#include <openssl/asn1.h>

#include <string>
#include <vector>

#include "tessal/byte_array.h"

std::string Base64Encode(const ByteArray& bytes);
// Lenient: characters outside the alphabet are skipped, a trailing partial group is dropped. A
// text that could decode to more than a ByteArray holds (Base64DecodedLength over INT_MAX, so
// over about 2.86e9 characters) raises std::length_error.
ByteArray Base64Decode(const std::string& text);
// The most bytes `text` can decode to: three for every four characters.
size_t Base64DecodedLength(const std::string& text);

// Lower-case hexadecimal, high nibble first; n <= 0 gives "".
std::string HexEncode(const char* data, int n);
std::string Md5Hex(ByteArray bytes);
std::string HmacSha256Hex(const std::string& data, const std::string& key);
// One MT19937 value from a generator seeded with the time in 100 ns units, in hexadecimal.
std::string RandomHexNonce();

std::vector<std::string> SplitString(std::string text, const std::string& delimiter);

// UTF-8 up to the first NUL into wide characters (invalid sequences become U+FFFD).
std::wstring Utf8ToWide(const std::string& text);
// Wide characters into UTF-8 (invalid code points become U+FFFD).
std::string WideToUtf8(const std::wstring& text);
// From the ANSI code page to UTF-8; ends at the first NUL.
std::string AnsiToUtf8(const std::string& text);
// From wide characters to the ANSI code page ("?" for what it cannot hold); ends at the first NUL.
std::string WideToAnsi(std::wstring text);
// From UTF-8 to the ANSI code page ("?" for what it cannot hold); ends at the first NUL.
std::string Utf8ToAnsi(const std::string& text);
// The same, exactly: false (and `ansi` untouched) when a character has no form in the code page.
bool Utf8ToAnsiExactly(const std::string& text, std::string& ansi);

// Text of an ASN.1 string as UTF-8: UTF8String as is, BMPString converted, others up to a NUL.
std::string Asn1StringText(const ASN1_STRING* value);
// The same into a caller buffer of at least `outCapacity` bytes (not NUL-terminated).
// Returns 0, or -1 when the value is null or does not fit.
int Asn1StringToUtf8(const ASN1_STRING* value, unsigned char* out, int* outLen, int outCapacity);

// Compares two NUL-terminated texts, folding A-Z to lower case.
int AsciiCaseCompare(const char* a, const char* b);
