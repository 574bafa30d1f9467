// Exports of the data protection family.
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <vector>

#include "api/encodings.h"
#include "api/export_frame.h"
#include "api/input_limits.h"
#include "api/symmetric_cipher.h"
#include "kit/openssl_ptr.h"
#include "tessal/data_protection.h"
#include "workflows/cert_manager.h"

namespace {

using X509Ptr = kit::OpenSslPtr<X509, X509_free>;
using PkeyCtxPtr = kit::OpenSslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;

std::string Raw(const ByteArray& bytes) { return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.length()); }

// The raw bytes of `text`; std::length_error when they do not fit.
ByteArray Bytes(const std::string& text) {
    return ByteArray(reinterpret_cast<const unsigned char*>(text.data()),
                     static_cast<unsigned long>(text.size()));
}

// The current key once its PIN was verified; null after writing the message that applies.
SkfUKey* DecryptingKey(ExportFrame& frame) { return dynamic_cast<SkfUKey*>(frame.PinVerifiedKey()); }

// RSA PKCS#1 v1.5 encryption to the certificate's key; false for anything but an RSA key.
bool RsaEncryptToCertificate(const ByteArray& certificate, const std::string& data, ByteArray& cipher) {
    const unsigned char* p = certificate.data();
    X509Ptr cert(p ? d2i_X509(nullptr, &p, certificate.length()) : nullptr);
    EVP_PKEY* key = cert ? X509_get0_pubkey(cert.get()) : nullptr;
    if (!key || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) return false;
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    size_t length = 0;
    const auto* in = reinterpret_cast<const unsigned char*>(data.data());
    if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_encrypt(ctx.get(), nullptr, &length, in, data.size()) != 1)
        return false;
    std::vector<unsigned char> out(length);
    if (EVP_PKEY_encrypt(ctx.get(), out.data(), &length, in, data.size()) != 1) return false;
    cipher = ByteArray(out.data(), static_cast<unsigned long>(length));
    return true;
}

bool SymmetricData(const ByteArray& in, const std::string& key, bool encrypt, ByteArray& out) {
    SymmetricKey aesKey{};
    return DecodeSymmetricKey(key, aesKey) && AesEcbZeroPadded(in, aesKey, encrypt, out);
}

}  // namespace

bool ZYKEncDataPubKey(const std::string& data, const std::string& certificate,
                      std::string& cipher) try {
    ByteArray out;
    bool ok = RsaEncryptToCertificate(Base64Decode(certificate), data, out);
    ERR_clear_error();
    if (ok) cipher = Base64Encode(out);
    return ok;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKDecDataPriKey(const std::string& cipher, std::string& plain) try {
    ExportFrame frame;
    SkfUKey* key = DecryptingKey(frame);
    if (!key) return false;
    ByteArray in = Base64Decode(cipher);
    // The signing certificate tells an SM2 key from an RSA key: read it when that has not happened.
    // A key without a readable one decrypts as RSA.
    if (!key->GetSignCert()) key->GetCertData();
    ByteArray out;
    CResult result = key->CurrentCertIsSM2() ? key->EccDeCryptWithFormat(in, out) : key->DecryptRSAData(in, out, 0);
    if (result != 0) return false;
    plain = Raw(out);
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKEccDeCrypt(std::string& cipher, std::string& plain) try {
    ExportFrame frame;
    SkfUKey* key = DecryptingKey(frame);
    if (!key) return false;
    ByteArray in = Base64Decode(cipher);
    ByteArray out = Base64Decode(plain);
    if (key->EccDeCrypt(in, out) != 0) return false;
    plain = Base64Encode(out);
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKEncryptDataByPrivKey(std::string& data, std::string& result) try {
    ExportFrame frame;
    SkfUKey* key = DecryptingKey(frame);
    if (!key) return false;
    ByteArray in = Base64Decode(data);
    ByteArray out;
    if (key->EncryptDataByPrivKey(in, out) != 0) return false;
    result = Base64Encode(out);
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKSymEncData(const std::string& data, const std::string& key, std::string& cipher) try {
    if (!InputFits(ZeroPaddedLength(data.size()))) return false;
    ByteArray out;
    if (!SymmetricData(Bytes(data), key, true, out)) return false;
    cipher = Base64Encode(out);
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKSymDecData(const std::string& cipher, const std::string& key, std::string& plain) try {
    ByteArray out;
    if (!SymmetricData(Base64Decode(cipher), key, false, out)) return false;
    plain = Raw(out);
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKSymEncFile(const std::string& inputPath, const std::string& outputPath,
                   const std::string& key, int encrypt) try {
    SymmetricKey aesKey{};
    return DecodeSymmetricKey(key, aesKey) && AesEcbFile(inputPath, outputPath, aesKey, encrypt != 0);
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKGenRandomKey(std::string& key) try {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) return false;
    key = Base64Encode(ByteArray(bytes, sizeof bytes));
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKGenECCKeyPair(std::string& x, std::string& y) try {
    ExportFrame frame;
    if (!frame.PinVerifiedKey()) return false;
    ByteArray xBytes, yBytes;
    if (CertManager::GenerateSM2KeyPair(xBytes, yBytes) != 0) return false;
    x = Base64Encode(xBytes);
    y = Base64Encode(yBytes);
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}
