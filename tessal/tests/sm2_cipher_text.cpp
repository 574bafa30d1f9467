#include "sm2_cipher_text.h"

#include <openssl/asn1.h>
#include <openssl/bn.h>

#include <vector>

namespace test_support {

namespace {

// The content bytes of the first INTEGER of the DER SEQUENCE (the ciphertext's x).
int FirstIntegerLength(const ByteArray& der) {
    const unsigned char* p = der.data();
    long length = 0;
    int tag = 0, cls = 0;
    if (ASN1_get_object(&p, &length, &tag, &cls, der.length()) & 0x80) return -1;
    const unsigned char* inner = p;
    if (ASN1_get_object(&inner, &length, &tag, &cls, der.length() - (p - der.data())) & 0x80) return -1;
    return tag == V_ASN1_INTEGER ? static_cast<int>(length) : -1;
}

}  // namespace

ByteArray Sm2EncryptDer(EVP_PKEY* key, const std::string& plain) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    const auto* in = reinterpret_cast<const unsigned char*>(plain.data());
    size_t length = 0;
    ByteArray der;
    if (ctx && EVP_PKEY_encrypt_init(ctx) == 1 && EVP_PKEY_encrypt(ctx, nullptr, &length, in, plain.size()) == 1) {
        std::vector<unsigned char> out(length);
        if (EVP_PKEY_encrypt(ctx, out.data(), &length, in, plain.size()) == 1)
            der = ByteArray(out.data(), static_cast<unsigned long>(length));
    }
    EVP_PKEY_CTX_free(ctx);
    return der;
}

ByteArray Sm2EncryptDerWithX(EVP_PKEY* key, const std::string& plain, int xBytes) {
    for (int attempt = 0; attempt < 5000; ++attempt) {
        ByteArray der = Sm2EncryptDer(key, plain);
        if (der.length() == 0) break;
        if (FirstIntegerLength(der) == xBytes) return der;
    }
    return ByteArray();
}

ByteArray Sm2DerToRaw(const ByteArray& der) {
    const unsigned char* p = der.data();
    STACK_OF(ASN1_TYPE)* seq = d2i_ASN1_SEQUENCE_ANY(nullptr, &p, der.length());
    ByteArray raw;
    if (seq && sk_ASN1_TYPE_num(seq) == 4) {
        unsigned char coordinates[64];
        bool ok = true;
        for (int i = 0; i < 2 && ok; ++i) {
            BIGNUM* bn = ASN1_INTEGER_to_BN(sk_ASN1_TYPE_value(seq, i)->value.integer, nullptr);
            ok = bn && BN_bn2binpad(bn, coordinates + 32 * i, 32) == 32;
            BN_free(bn);
        }
        if (ok) {
            raw.append(coordinates, 64);
            for (int i = 2; i < 4; ++i) {
                const ASN1_OCTET_STRING* s = sk_ASN1_TYPE_value(seq, i)->value.octet_string;
                raw.append(ASN1_STRING_get0_data(s), ASN1_STRING_length(s));
            }
        }
    }
    sk_ASN1_TYPE_pop_free(seq, ASN1_TYPE_free);
    return raw;
}

}  // namespace test_support
