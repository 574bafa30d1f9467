// Signing with the key's signing key pair: raw RSA and SM2, and RSA PKCS#7 signed data whose
// private-key step runs on the key through the engine.
#include <openssl/err.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>

#include "api/failure.h"
#include "api/log.h"
#include "tessal/cert_info.h"
#include "token/signature_der.h"
#include "token/signed_data_der.h"
#include "token/skf_ukey.h"
#include "token/time_stamp_attribute.h"

namespace {

constexpr ULONG kSignatureBuffer = 512;
constexpr char kSm2Id[] = "1234567812345678";
constexpr unsigned char kSha256DigestInfo[19] = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                                 0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
constexpr char kRetryingLibrary[] = "gdca_dal_ecc27.dll";

// Signer infos made here name the certificate's issuer by the certificate's own name object
// rather than a copy (copying a name encodes and parses it again on every signature). The
// certificate outlives the signed data, and the names are handed back before it is freed.
void ReleaseBorrowedIssuer(PKCS7_SIGNER_INFO* si) { si->issuer_and_serial->issuer = nullptr; }

struct Pkcs7Free {
    void operator()(PKCS7* p) const {
        STACK_OF(PKCS7_SIGNER_INFO)* signers = p ? PKCS7_get_signer_info(p) : nullptr;
        for (int i = 0; i < sk_PKCS7_SIGNER_INFO_num(signers); ++i)
            ReleaseBorrowedIssuer(sk_PKCS7_SIGNER_INFO_value(signers, i));
        PKCS7_free(p);
    }
};
using Pkcs7Ptr = std::unique_ptr<PKCS7, Pkcs7Free>;

// What PKCS7_add_signature does, with the issuer's name borrowed from `cert`.
PKCS7_SIGNER_INFO* AddSigner(PKCS7* p7, X509* cert, EVP_PKEY* key, const EVP_MD* md) {
    PKCS7_SIGNER_INFO* si = PKCS7_SIGNER_INFO_new();
    if (!si) return nullptr;
    X509_NAME_free(si->issuer_and_serial->issuer);
    si->issuer_and_serial->issuer = X509_get_issuer_name(cert);  // taken as it is, not copied
    if (PKCS7_SIGNER_INFO_set(si, cert, key, md) > 0 && PKCS7_add_signer(p7, si) == 1) return si;
    ReleaseBorrowedIssuer(si);
    PKCS7_SIGNER_INFO_free(si);
    return nullptr;
}

// A signedData with one SHA-256 signer for the certificate, signing with the key on the token,
// and the certificate's chain; `p7` receives it (holding its own references to the key and the
// certificates). Null on failure.
PKCS7_SIGNER_INFO* NewSignedData(Pkcs7Ptr& p7, X509* cert, CertInfo* certInfo,
                                 SigningMaterial& material) {
    EVP_PKEY* key = material.RsaKey(cert);
    p7.reset(PKCS7_new());
    if (!key || !p7 || !certInfo || PKCS7_set_type(p7.get(), NID_pkcs7_signed) != 1) return nullptr;
    // The certificate goes in first, so the signed data holds it as long as its signer's name.
    if (PKCS7_add_certificate(p7.get(), cert) != 1) return nullptr;
    PKCS7_SIGNER_INFO* si = AddSigner(p7.get(), cert, key, EVP_sha256());
    if (!si) return nullptr;
    for (X509* ca : material.Chain(*certInfo))
        if (ca && PKCS7_add_certificate(p7.get(), ca) != 1) return nullptr;
    return si;
}

// The DER of signed data made by NewSignedData, with the certificates encoded once.
bool Encode(PKCS7* p7, ByteArray& out, X509* cert, CertInfo* certInfo, SigningMaterial& material) {
    return EncodeSignedDataDer(p7, out, certInfo ? material.Certificates(cert, *certInfo) : nullptr);
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

void AddRsaTimeStamp(PKCS7_SIGNER_INFO* si) {
    AddTimeStampToken(&si->unauth_attr, ASN1_STRING_get0_data(si->enc_digest), ASN1_STRING_length(si->enc_digest),
                      "RSA");
}

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
    Pkcs7Ptr p7;
    PKCS7_SIGNER_INFO* si = NewSignedData(p7, m_signCert, m_signCertInfo, m_signingMaterial);
    ASN1_OCTET_STRING* md = ASN1_OCTET_STRING_new();
    bool built = si && md && PKCS7_content_new(p7.get(), NID_pkcs7_data) == 1 && PKCS7_set_detached(p7.get(), 1) == 1 &&
                 PKCS7_add_signed_attribute(si, NID_pkcs9_contentType, V_ASN1_OBJECT, OBJ_nid2obj(NID_pkcs7_data)) == 1 &&
                 ASN1_OCTET_STRING_set(md, digest.data(), digest.length()) == 1 &&
                 PKCS7_add_signed_attribute(si, NID_pkcs9_messageDigest, V_ASN1_OCTET_STRING, md) == 1;
    if (built) md = nullptr;  // owned by the attribute now
    ASN1_OCTET_STRING_free(md);
    built = built && PKCS7_add0_attrib_signing_time(si, nullptr) == 1;
    if (!built) {
        // Nothing was signed: report it rather than an empty success.
        TESSAL_FAIL(result, 73, "SkfUKey::SignDigest");
        return result;
    }
    TLOG_DEBUG("start PKCS7_SIGNER_INFO_sign");
    if (PKCS7_SIGNER_INFO_sign(si) <= 0) {
        ERR_clear_error();
        TESSAL_FAIL(result, 1, "SkfUKey::SignDigest");
        return result;
    }
    AddRsaTimeStamp(si);
    if (!Encode(p7.get(), out, m_signCert, m_signCertInfo, m_signingMaterial)) TESSAL_FAIL(result, 73, "SkfUKey::SignDigest");
    return result;
}

CResult SkfUKey::SignP7(ByteArray data, ByteArray& out, int detached) {
    CResult result;
    if (!m_signCert) {
        result = GetCertData();
        if (result != 0) return result;
    }
    Pkcs7Ptr p7;
    PKCS7_SIGNER_INFO* si = NewSignedData(p7, m_signCert, m_signCertInfo, m_signingMaterial);
    bool built = si &&
                 PKCS7_add_signed_attribute(si, NID_pkcs9_contentType, V_ASN1_OBJECT, OBJ_nid2obj(NID_pkcs7_data)) == 1 &&
                 PKCS7_content_new(p7.get(), NID_pkcs7_data) == 1 &&
                 (!detached || PKCS7_set_detached(p7.get(), 1) == 1);  // it answers the flag it set
    BIO* bio = built ? PKCS7_dataInit(p7.get(), nullptr) : nullptr;
    if (!bio) {
        TESSAL_FAIL(result, 73, "SkfUKey::SignP7");
        return result;
    }
    bool written = data.length() == 0 || BIO_write(bio, data.data(), data.length()) == data.length();
    (void)BIO_flush(bio);
    bool signedOk = written && PKCS7_dataFinal(p7.get(), bio) == 1;
    BIO_free_all(bio);
    if (!signedOk) {
        ERR_clear_error();
        TESSAL_FAIL(result, 1, "SkfUKey::SignP7");
        return result;
    }
    AddRsaTimeStamp(si);
    if (!Encode(p7.get(), out, m_signCert, m_signCertInfo, m_signingMaterial)) TESSAL_FAIL(result, 73, "SkfUKey::SignP7");
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
