// Signing with the key's signing key pair: raw RSA and SM2, and RSA PKCS#7 signed data whose
// private-key step runs on the key through the engine.
#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstring>

#include "api/failure.h"
#include "api/log.h"
#include "tessal/cert_info.h"
#include "tessal/time_stamp.h"
#include "token/rsa_signed_data.h"
#include "token/signature_der.h"
#include "token/skf_ukey.h"

namespace {

constexpr ULONG kSignatureBuffer = 512;
constexpr char kSm2Id[] = "1234567812345678";
constexpr unsigned char kSha256DigestInfo[19] = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                                 0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
constexpr char kRetryingLibrary[] = "gdca_dal_ecc27.dll";

// The codes of the signing calls for signed data that could not be built, or not signed.
constexpr int kNotBuilt = 73, kNotSigned = 1;

// RSA signed data over a SHA-256 message digest, signed on the key, with a time-stamp token
// over the signature value when the time service gives one; `content` is carried when not
// null. `signingStep`, when given, is logged once the signed data is built. 0, kNotBuilt or
// kNotSigned.
int SignRsaDigest(SigningMaterial& material, X509* cert, CertInfo* certInfo,
                  const unsigned char (&digest)[kSha256Length], const ByteArray* content, ByteArray& out,
                  const char* signingStep = nullptr) {
    RsaSigner signer;
    der::Bytes attributes, signature;
    if (!certInfo || !material.Rsa(cert, *certInfo, signer) || !RsaSignedAttributes(digest, attributes)) {
        ERR_clear_error();
        return kNotBuilt;
    }
    if (signingStep) TLOG_DEBUG(signingStep);
    if (!SignRsaAttributes(signer.key, attributes, signature)) {
        ERR_clear_error();
        return kNotSigned;
    }
    ByteArray value(signature.data(), static_cast<unsigned long>(signature.size())), token;
    if (TimeStamp::GetTimeStamp(value, token, "RSA") != 0) token = ByteArray();
    return WriteRsaSignedData(signer, attributes, signature, content, token, out) ? 0 : kNotBuilt;
}

// A hash handle of the driver, closed on every path out of the function that opened it.
class HashHandle {
public:
    explicit HashHandle(const SkfFunctionList& skf) : m_skf(skf) {}
    ~HashHandle() {
        if (m_handle && m_skf.SKF_CloseHandle) m_skf.SKF_CloseHandle(m_handle);
    }
    HashHandle(const HashHandle&) = delete;
    HashHandle& operator=(const HashHandle&) = delete;
    HANDLE* out() { return &m_handle; }
    HANDLE get() const { return m_handle; }

private:
    const SkfFunctionList& m_skf;
    HANDLE m_handle = nullptr;
};

}  // namespace

CResult SkfUKey::EncryptDataByPrivKey(ByteArray& in, ByteArray& out) {
    TLOG_DEBUG("start EncryptDataByPrivKey");
    CResult result = EnsureContainerOpen(15, "SkfUKey::EncryptDataByPrivKey");
    if (result != 0) return result;
    TLOG_DEBUG("start SKF_RSASignData");
    unsigned char sig[kSignatureBuffer];
    ULONG length = kSignatureBuffer;
    if (m_skf.SKF_RSASignData(m_hContainer, const_cast<BYTE*>(in.data()), static_cast<ULONG>(in.length()), sig,
                              &length) != SAR_OK) {
        TESSAL_FAIL(result, 1, "SkfUKey::EncryptDataByPrivKey");
        return result;
    }
    TLOG_DEBUG("signed data length:" << length);
    out = ByteArray(sig, static_cast<unsigned long>(std::min<ULONG>(length, kSignatureBuffer)));
    return result;
}

CResult SkfUKey::Sign(ByteArray& data, ByteArray& sig) {
    CResult result;
    ECCPUBLICKEYBLOB zero{};
    HashHandle hash(m_skf);
    unsigned char digest[256];
    ULONG digestLength = sizeof digest;
    bool hashed = m_skf.SKF_DigestInit(m_hDev, SGD_SHA256, &zero, (unsigned char*)kSm2Id, 16, hash.out()) == SAR_OK &&
                  m_skf.SKF_Digest(hash.get(), const_cast<BYTE*>(data.data()), static_cast<ULONG>(data.length()), digest,
                                   &digestLength) == SAR_OK;
    // Only a SHA-256 value fits the DigestInfo.
    if (!hashed || digestLength != 32) {
        TESSAL_FAIL(result, 1, "SkfUKey::Sign");
        return result;
    }
    unsigned char info[sizeof kSha256DigestInfo + 32];
    std::memcpy(info, kSha256DigestInfo, sizeof kSha256DigestInfo);
    std::memcpy(info + sizeof kSha256DigestInfo, digest, 32);
    result = EnsureContainerOpen(15, "SkfUKey::Sign");
    if (result != 0) return result;
    unsigned char out[kSignatureBuffer];
    ULONG length = kSignatureBuffer;
    if (m_skf.SKF_RSASignData(m_hContainer, info, sizeof info, out, &length) != SAR_OK) {
        TESSAL_FAIL(result, 1, "SkfUKey::Sign");
        return result;
    }
    sig = ByteArray(out, static_cast<unsigned long>(std::min<ULONG>(length, kSignatureBuffer)));
    return result;
}

CResult SkfUKey::SignDigest(ByteArray digest, ByteArray& out) {
    CResult result;
    TLOG_DEBUG("start SignDigest");
    if (!m_opened) {
        TESSAL_FAIL(result, 25, "SkfUKey::SignDigest");
        return result;
    }
    if (digest.length() != 32) {
        result.SetCustomizedMessage("digest length is not properly");
        return result;
    }
    if (!m_signCert) {
        result = GetCertData();
        if (result != 0) return result;
    }
    unsigned char value[kSha256Length];
    std::memcpy(value, digest.data(), kSha256Length);
    int code = SignRsaDigest(m_signingMaterial, m_signCert, m_signCertInfo, value, nullptr, out,
                             "start PKCS7_SIGNER_INFO_sign");
    if (code != 0) TESSAL_FAIL(result, code, "SkfUKey::SignDigest");
    return result;
}

CResult SkfUKey::SignP7(ByteArray data, ByteArray& out, int detached) {
    CResult result;
    if (!m_signCert) {
        result = GetCertData();
        if (result != 0) return result;
    }
    unsigned char digest[kSha256Length];
    int code = Sha256Of(data, digest) ? SignRsaDigest(m_signingMaterial, m_signCert, m_signCertInfo, digest,
                                                      detached ? nullptr : &data, out)
                                      : kNotBuilt;
    if (code != 0) TESSAL_FAIL(result, code, "SkfUKey::SignP7");
    return result;
}

CResult SkfUKey::SM2SignDigest(ByteArray& digest, ByteArray& sig) {
    CResult result;
    ECCSIGNATUREBLOB blob{};
    ULONG rc = m_skf.SKF_ECCSignData(m_hContainer, const_cast<BYTE*>(digest.data()), static_cast<ULONG>(digest.length()),
                                     &blob);
    if (rc != SAR_OK && m_libName == kRetryingLibrary) {
        TLOG_DEBUG("SKF_ECCSignData fail,error is:" << std::hex << rc);
        ReleaseKey();
        TLOG_DEBUG("Remove Ukey over");
        result = InitUKey();
        if (result != 0) return result;
        TLOG_DEBUG("init Ukey over");
        result = GetCertData();
        if (result != 0) return result;
        TLOG_DEBUG("getCert over");
        rc = m_skf.SKF_ECCSignData(m_hContainer, const_cast<BYTE*>(digest.data()), static_cast<ULONG>(digest.length()),
                                   &blob);
    }
    if (rc != SAR_OK) {
        TLOG_ERROR("SKF_ECCSignData fail,error is:" << std::hex << rc);
        TESSAL_FAIL(result, 50, "SkfUKey::SM2SignDigest");
        return result;
    }
    sig = SignatureBlobToDer(blob);
    TLOG_DEBUG("SKF_ECCSignData over");
    return result;
}

CResult SkfUKey::SM2SignWithFormat(ByteArray& data, ByteArray& sig) {
    TLOG_DEBUG("SM2SignWithFormat start");
    CResult result = EnsureContainerOpen(17, "SkfUKey::SM2SignWithFormat");
    if (result != 0) return result;
    ECCPUBLICKEYBLOB pub{};
    ULONG length = sizeof pub;
    ULONG rc = m_skf.SKF_ExportPublicKey(m_hContainer, TRUE, reinterpret_cast<BYTE*>(&pub), &length);
    if (rc != SAR_OK) {
        TLOG_ERROR("SKF_ExportPublicKey error is" << std::hex << rc);
        TESSAL_FAIL(result, static_cast<int>(rc), "SkfUKey::SM2SignWithFormat");
        return result;
    }
    TLOG_DEBUG("SKF_DigestInit start");
    HashHandle hash(m_skf);
    rc = m_skf.SKF_DigestInit(m_hDev, SGD_SM3, &pub, (unsigned char*)kSm2Id, 16, hash.out());
    if (rc != SAR_OK) {
        TLOG_ERROR("SKF_DigestInit error is" << std::hex << rc);
        TESSAL_FAIL(result, static_cast<int>(rc), "SkfUKey::SM2SignWithFormat");
        return result;
    }
    TLOG_DEBUG("SKF_Digest start");
    unsigned char digest[64];
    ULONG digestLength = sizeof digest;
    rc = m_skf.SKF_Digest(hash.get(), const_cast<BYTE*>(data.data()), static_cast<ULONG>(data.length()), digest,
                          &digestLength);
    if (rc != SAR_OK) {
        TLOG_ERROR("SKF_Digest error is" << std::hex << rc);
        TESSAL_FAIL(result, static_cast<int>(rc), "SkfUKey::SM2SignWithFormat");
        return result;
    }
    TLOG_DEBUG("SKF_ECCSignData");
    ECCSIGNATUREBLOB blob{};
    rc = m_skf.SKF_ECCSignData(m_hContainer, digest, digestLength, &blob);
    if (rc != SAR_OK) {
        TLOG_ERROR("SKF_ECCSignData error is" << std::hex << rc);
        TESSAL_FAIL(result, 50, "SkfUKey::SM2SignWithFormat");
        return result;
    }
    sig = SignatureBlobToDer(blob);
    TLOG_DEBUG("SKF_ECCSignData over");
    return result;
}

CResult SkfUKey::SM2Sign(ByteArray& data, ECCSIGNATUREBLOB* sig) {
    CResult result;
    ECCPUBLICKEYBLOB pub{};
    ULONG length = sizeof pub;
    m_skf.SKF_ExportPublicKey(m_hContainer, TRUE, reinterpret_cast<BYTE*>(&pub), &length);
    HashHandle hash(m_skf);
    m_skf.SKF_DigestInit(m_hDev, SGD_SM3, &pub, (unsigned char*)kSm2Id, 16, hash.out());
    unsigned char digest[64];
    ULONG digestLength = sizeof digest;
    m_skf.SKF_Digest(hash.get(), const_cast<BYTE*>(data.data()), static_cast<ULONG>(data.length()), digest, &digestLength);
    if (m_skf.SKF_ECCSignData(m_hContainer, digest, std::min<ULONG>(digestLength, sizeof digest), sig) != SAR_OK) {
        TESSAL_FAIL(result, 25, "SkfUKey::SM2Sign");
        return result;
    }
    return result;
}

CResult SkfUKey::SM2VerifyDigest(ByteArray& digest, ByteArray& sig) {
    CResult result;
    ECCPUBLICKEYBLOB pub{};
    ULONG length = sizeof pub;
    m_skf.SKF_ExportPublicKey(m_hContainer, TRUE, reinterpret_cast<BYTE*>(&pub), &length);
    ECCSIGNATUREBLOB blob{};
    if (!SignatureDerToBlob(sig, blob) ||
        m_skf.SKF_ECCVerify(m_hDev, &pub, const_cast<BYTE*>(digest.data()), static_cast<ULONG>(digest.length()),
                            &blob) != SAR_OK) {
        TESSAL_FAIL(result, 50, "SkfUKey::SM2VerifyDigest");
        return result;
    }
    return result;
}
