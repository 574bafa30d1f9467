// The SM2 message structures from arbitrary DER: a signed message through the digest
// verification entry point, the decoders of the message and of an SM2 ciphertext.
#include <openssl/err.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "api/encodings.h"
#include "gmcrypto/sm2_asn1.h"
#include "gmcrypto/sm2_message.h"
#include "tessal/signing.h"

namespace {

constexpr size_t kDigestSize = 32;

// Decodes `data` as a whole message and walks its signers as verification does.
void DecodeMessage(const uint8_t* data, size_t size) {
    const unsigned char* p = data;
    SM2M* message = d2i_SM2M(nullptr, &p, static_cast<long>(size));
    if (!message) return;
    STACK_OF(SM2M_SIGNER_INFO)* signers = SM2M_get_signer_info(message);
    for (int i = 0; signers && i < sk_SM2M_SIGNER_INFO_num(signers); ++i)
        SM2M_find_signer_cert(message, sk_SM2M_SIGNER_INFO_value(signers, i));
    unsigned char* der = nullptr;
    if (i2d_SM2M(message, &der) > 0) OPENSSL_free(der);
    SM2M_free(message);
}

void DecodeCipher(const uint8_t* data, size_t size) {
    const unsigned char* p = data;
    SM2_Cipher* cipher = d2i_SM2_Cipher(nullptr, &p, static_cast<long>(size));
    SM2_Cipher_free(cipher);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DecodeMessage(data, size);
    DecodeCipher(data, size);
    // The entry point takes Base64: a digest, then the message.
    size_t digestSize = size < kDigestSize ? size : kDigestSize;
    std::string digest = Base64Encode(ByteArray(data, static_cast<unsigned long>(digestSize)));
    std::string message =
        Base64Encode(ByteArray(data + digestSize, static_cast<unsigned long>(size - digestSize)));
    std::string certificate, signingTime;
    ZYKVerifySM2Digest(digest, message, certificate, signingTime);
    ERR_clear_error();
    return 0;
}
