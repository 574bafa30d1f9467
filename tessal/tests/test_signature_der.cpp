// SM2 signature blobs as DER against OpenSSL's i2d_ECDSA_SIG, and back.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ecdsa.h>

#include <cstring>
#include <string>
#include <vector>

#include "token/signature_der.h"

namespace {

std::string OpenSslDer(const unsigned char* r, const unsigned char* s) {
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(r, 32, nullptr), BN_bin2bn(s, 32, nullptr));
    unsigned char* der = nullptr;
    int len = i2d_ECDSA_SIG(sig, &der);
    std::string text(reinterpret_cast<char*>(der), static_cast<size_t>(len > 0 ? len : 0));
    OPENSSL_free(der);
    ECDSA_SIG_free(sig);
    return text;
}

// Values with leading zero bytes (none to all but one, and all), a high first bit, all ones.
std::vector<std::vector<unsigned char>> EdgeValues() {
    std::vector<std::vector<unsigned char>> values;
    for (size_t zeros : {0u, 1u, 2u, 17u, 31u, 32u})
        for (unsigned char first : {0x01, 0x7F, 0x80, 0xFF}) {
            std::vector<unsigned char> v(32, 0x5A);
            std::fill(v.begin(), v.begin() + zeros, 0);
            if (zeros < 32) v[zeros] = first;
            values.push_back(v);
        }
    return values;
}

TEST(SignatureDer, BlobToDerIsI2dEcdsaSigAndReadsBack) {
    int compared = 0;
    for (const auto& r : EdgeValues())
        for (const auto& s : EdgeValues()) {
            ECCSIGNATUREBLOB blob;
            std::memset(&blob, 0xEE, sizeof blob);  // the unused upper halves are never read
            std::memcpy(blob.r + 32, r.data(), 32);
            std::memcpy(blob.s + 32, s.data(), 32);
            ByteArray der = SignatureBlobToDer(blob);
            ASSERT_EQ(std::string(reinterpret_cast<const char*>(der.data()), static_cast<size_t>(der.length())),
                      OpenSslDer(r.data(), s.data()));
            ECCSIGNATUREBLOB back;
            ASSERT_TRUE(SignatureDerToBlob(der, back));
            EXPECT_EQ(std::memcmp(back.r + 32, r.data(), 32), 0);
            EXPECT_EQ(std::memcmp(back.s + 32, s.data(), 32), 0);
            ++compared;
        }
    EXPECT_EQ(compared, 24 * 24);
}

}  // namespace
