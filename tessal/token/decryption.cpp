// Decryption with the key's encryption key pair.
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/err.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "api/failure.h"
#include "api/log.h"
#include "gmcrypto/sm2_asn1.h"
#include "kit/openssl_ptr.h"
#include "token/skf_ukey.h"

namespace {

constexpr ULONG kPlainBufferSize = 1024;
constexpr size_t kCoordinateSize = 32;
constexpr size_t kHashSize = 32;
constexpr size_t kRawHeaderSize = 2 * kCoordinateSize + kHashSize;  // C1 (x, y) and C3
constexpr int kBadCipherText = 45;
constexpr int kEccDecryptFailed = 46;
constexpr int kRsaDecryptFailed = 1;

using Sm2CipherPtr = kit::OpenSslPtr<SM2_Cipher, SM2_Cipher_free>;
using BignumPtr = kit::OpenSslPtr<BIGNUM, BN_free>;

// An SM2 ciphertext in its parts: the point C1, the SM3 value C3 and the enciphered bytes C2.
struct Sm2Parts {
    unsigned char x[kCoordinateSize];
    unsigned char y[kCoordinateSize];
    unsigned char hash[kHashSize];
    const unsigned char* cipher;  // points into the caller's input
    size_t cipherLength;
};

// The cipher blob the driver takes: each coordinate at the end of its 64-byte field.
std::vector<unsigned char> CipherBlob(const Sm2Parts& parts) {
    ECCCIPHERBLOB header{};
    std::memcpy(header.XCoordinate + sizeof header.XCoordinate - kCoordinateSize, parts.x, kCoordinateSize);
    std::memcpy(header.YCoordinate + sizeof header.YCoordinate - kCoordinateSize, parts.y, kCoordinateSize);
    std::memcpy(header.HASH, parts.hash, kHashSize);
    header.CipherLen = static_cast<ULONG>(parts.cipherLength);
    std::vector<unsigned char> blob(ECC_CIPHER_HEADER_LEN + parts.cipherLength);
    std::memcpy(blob.data(), &header, ECC_CIPHER_HEADER_LEN);
    if (parts.cipherLength > 0) std::memcpy(&blob[ECC_CIPHER_HEADER_LEN], parts.cipher, parts.cipherLength);
    OPENSSL_cleanse(&header, sizeof header);
    return blob;
}

// A non-negative INTEGER of at most 32 bytes, written as a 32-byte big-endian number.
bool Coordinate(const ASN1_INTEGER* value, unsigned char out[kCoordinateSize]) {
    BignumPtr bn(ASN1_INTEGER_to_BN(value, nullptr));
    return bn && !BN_is_negative(bn.get()) && BN_num_bytes(bn.get()) <= static_cast<int>(kCoordinateSize) &&
           BN_bn2binpad(bn.get(), out, kCoordinateSize) == static_cast<int>(kCoordinateSize);
}

// Reads the DER SM2_Cipher that makes up all of `in`; false for anything malformed. The cipher
// bytes of `parts` point into `cipher`.
bool ParseDerCipher(const ByteArray& in, Sm2CipherPtr& cipher, Sm2Parts& parts) {
    const unsigned char* p = in.data();
    cipher.reset(d2i_SM2_Cipher(nullptr, &p, in.length()));
    ERR_clear_error();
    if (!cipher || p != in.data() + in.length()) return false;
    const SM2_Cipher* c = cipher.get();
    if (!Coordinate(c->x, parts.x) || !Coordinate(c->y, parts.y)) return false;
    if (ASN1_STRING_length(c->hash) != static_cast<int>(kHashSize) || ASN1_STRING_length(c->cipher) <= 0) return false;
    std::memcpy(parts.hash, ASN1_STRING_get0_data(c->hash), kHashSize);
    parts.cipher = ASN1_STRING_get0_data(c->cipher);
    parts.cipherLength = static_cast<size_t>(ASN1_STRING_length(c->cipher));
    return true;
}

// Runs one decryption of the driver into the plaintext buffer; on success `out` receives the
// plaintext the driver reports.
template <typename DriverCall>
ULONG DecryptInto(ByteArray& out, DriverCall call) {
    unsigned char plain[kPlainBufferSize] = {0};
    ULONG length = kPlainBufferSize;
    ULONG rc = call(plain, &length);
    if (rc == SAR_OK) out = ByteArray(plain, static_cast<unsigned long>(std::min(length, kPlainBufferSize)));
    OPENSSL_cleanse(plain, sizeof plain);
    return rc;
}

}  // namespace

CResult SkfUKey::DecryptEccBlob(std::vector<unsigned char>& blob, ByteArray& out, const char* function) {
    CResult result;
    ULONG rc = DecryptInto(out, [&](BYTE* plain, ULONG* length) {
        return m_skf.SKF_ECCDecrypt(m_hContainer, FALSE, reinterpret_cast<PECCCIPHERBLOB>(blob.data()), plain, length);
    });
    OPENSSL_cleanse(blob.data(), blob.size());
    if (rc != SAR_OK) {
        TLOG_ERROR("SKF_ECCDecrypt fail,error is:" << std::hex << rc);
        TESSAL_FAIL(result, kEccDecryptFailed, function);
    }
    return result;
}

bool SkfUKey::HasDecryptFunction(bool sm2, CResult& result, const char* function) {
    if (sm2 ? m_skf.SKF_ECCDecrypt != nullptr : m_skf.SKF_RSADecrypt != nullptr) return true;
    const char* missing = sm2 ? "SKF_ECCDecrypt" : "SKF_RSADecrypt";
    TLOG_ERROR(m_libName << " does not provide " << missing);
    TESSAL_FAIL(result, sm2 ? kEccDecryptFailed : kRsaDecryptFailed, function);
    return false;
}

CResult SkfUKey::EccDeCrypt(ByteArray& in, ByteArray& out) {
    const char* function = "SkfUKey::EccDeCrypt";
    CResult result;
    if (!HasDecryptFunction(true, result, function)) return result;
    result = EnsureContainerOpen(15, function);
    if (result != 0) return result;
    if (in.length() <= static_cast<int>(kRawHeaderSize)) {
        TESSAL_FAIL(result, kBadCipherText, function);
        return result;
    }
    const unsigned char* raw = in.data();
    Sm2Parts parts{};
    std::memcpy(parts.x, raw, kCoordinateSize);
    std::memcpy(parts.y, raw + kCoordinateSize, kCoordinateSize);
    std::memcpy(parts.hash, raw + 2 * kCoordinateSize, kHashSize);
    parts.cipher = raw + kRawHeaderSize;
    parts.cipherLength = static_cast<size_t>(in.length()) - kRawHeaderSize;
    std::vector<unsigned char> blob = CipherBlob(parts);
    return DecryptEccBlob(blob, out, function);
}

CResult SkfUKey::EccDeCryptWithFormat(ByteArray& in, ByteArray& out) {
    const char* function = "SkfUKey::EccDeCryptWithFormat";
    CResult result;
    if (!HasDecryptFunction(true, result, function)) return result;
    Sm2CipherPtr cipher;
    Sm2Parts parts{};
    if (in.length() <= static_cast<int>(kRawHeaderSize) || !ParseDerCipher(in, cipher, parts)) {
        TESSAL_FAIL(result, kBadCipherText, function);
        return result;
    }
    result = EnsureContainerOpen(17, function);
    if (result != 0) return result;
    std::vector<unsigned char> blob = CipherBlob(parts);
    return DecryptEccBlob(blob, out, function);
}

CResult SkfUKey::DecryptRSAData(ByteArray& in, ByteArray& out, int flag) {
    const char* function = "SkfUKey::DecryptRSAData";
    CResult result;
    if (!HasDecryptFunction(false, result, function)) return result;
    result = EnsureContainerOpen(15, function);
    if (result != 0) return result;
    ULONG rc = DecryptInto(out, [&](BYTE* plain, ULONG* length) {
        return m_skf.SKF_RSADecrypt(m_hContainer, flag, const_cast<BYTE*>(in.data()), static_cast<ULONG>(in.length()),
                                    plain, length);
    });
    if (rc != SAR_OK) {
        TLOG_ERROR("SKF_RSADecrypt fail,error is:" << std::hex << rc);
        TESSAL_FAIL(result, kRsaDecryptFailed, function);
    }
    return result;
}
