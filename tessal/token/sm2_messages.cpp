// SM2 signed messages made and checked with the key.
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/x509.h>

#include <memory>
#include <vector>

#include "api/failure.h"
#include "api/log.h"
#include "gmcrypto/key_objects.h"
#include "gmcrypto/sm2_message.h"
#include "gmcrypto/sm_objects.h"
#include "tessal/cert_info.h"
#include "tessal/engine.h"
#include "token/skf_ukey.h"
#include "token/time_stamp_attribute.h"

namespace {

struct MessageFree {
    void operator()(SM2M* m) const { SM2M_free(m); }
};
using MessagePtr = std::unique_ptr<SM2M, MessageFree>;
struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

bool EngineRegistered() {
    ENGINE* engine = ENGINE_by_id("VUV");
    if (!engine) {
        ERR_clear_error();
        return false;
    }
    ENGINE_free(engine);
    return true;
}

// A detached signed message with one SM3 signer for `cert` and the certificate's chain; the
// message holds its own references to the key and the certificates.
SM2M_SIGNER_INFO* NewSignedMessage(SM2M* message, X509* cert, const std::vector<X509*>& chain,
                                   EVP_PKEY* key) {
    if (!SM2M_set_type(message, kMsgSigned) || !SM2M_content_new(message, kMsgData) ||
        !SM2M_set_detached(message, 1))
        return nullptr;
    SM2M_SIGNER_INFO* si = SM2M_add_signature(message, cert, key, EVP_sm3());
    if (!si || !SM2M_add_certificate(message, cert)) return nullptr;
    for (X509* ca : chain)
        if (ca && !SM2M_add_certificate(message, ca)) return nullptr;
    return si;
}

bool Encode(SM2M* message, ByteArray& out) {
    unsigned char* der = nullptr;
    int len = i2d_SM2M(message, &der);
    if (len <= 0) return false;
    out = ByteArray(der, static_cast<unsigned long>(len));
    OPENSSL_free(der);
    return true;
}

}  // namespace

CResult SkfUKey::SignSM2Digest(ByteArray digest, ByteArray& out) {
    CResult result;
    TLOG_DEBUG("start SignSM2Digest");
    if (!m_opened) {
        TESSAL_FAIL(result, 25, "SkfUKey::SignSM2Digest");
        return result;
    }
    if (!EngineRegistered()) Engine::InitRsaEngine();
    if (digest.length() != 32) {
        result.SetCustomizedMessage("digest length is not properly");
        return result;
    }
    if (!m_signCert) {
        result = GetCertData();
        if (result != 0) {
            TLOG_DEBUG("获取证书失败");
            return result;
        }
    }
    EVP_PKEY* key = m_signingMaterial.Sm2Key(m_signCert);
    MessagePtr message(SM2M_new());
    SM2M_SIGNER_INFO* si = key && message && m_signCertInfo
                               ? NewSignedMessage(message.get(), m_signCert,
                                                  m_signingMaterial.Chain(*m_signCertInfo), key)
                               : nullptr;
    ASN1_OCTET_STRING* md = ASN1_OCTET_STRING_new();
    ASN1_UTCTIME* now = X509_gmtime_adj(nullptr, 0);
    bool built = si && md && now &&
                 SM2M_add_signed_attribute(si, NID_pkcs9_contentType, V_ASN1_OBJECT, OBJ_nid2obj(GetNID(kMsgData))) &&
                 ASN1_OCTET_STRING_set(md, digest.data(), digest.length()) == 1;
    built = built && SM2M_add_signed_attribute(si, NID_pkcs9_messageDigest, V_ASN1_OCTET_STRING, md);
    if (built) md = nullptr;
    built = built && SM2M_add_signed_attribute(si, NID_pkcs9_signingTime, V_ASN1_UTCTIME, now);
    if (built) now = nullptr;
    ASN1_OCTET_STRING_free(md);
    ASN1_UTCTIME_free(now);
    unsigned char* attrs = nullptr;
    int attrsLen = built ? ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(si->auth_attr), &attrs,
                                         ASN1_ITEM_rptr(SM2M_ATTR_SIGN))
                         : 0;
    if (attrsLen <= 0) {
        TESSAL_FAIL(result, 60, "SkfUKey::SignSM2Digest");
        return result;
    }
    TLOG_DEBUG("start SM2M_SIGNER_INFO_sign");
    ByteArray toSign(attrs, static_cast<unsigned long>(attrsLen));
    OPENSSL_free(attrs);
    ByteArray signature;
    if (SM2SignWithFormat(toSign, signature) != 0) {
        TESSAL_FAIL(result, 1, "SkfUKey::SignSM2Digest");
        return result;
    }
    ASN1_STRING_set(si->enc_digest, signature.data(), signature.length());
    TLOG_DEBUG("start GetTimeStamp");
    AddTimeStampToken(&si->unauth_attr, signature.data(), signature.length(), "SM2");
    TLOG_DEBUG("end GetTimeStamp");
    if (!Encode(message.get(), out)) TESSAL_FAIL(result, 60, "SkfUKey::SignSM2Digest");
    return result;
}

CResult SkfUKey::SignSM2P7(ByteArray& data, ByteArray& out) {
    CResult result;
    // A verification removes the engine; signing registers it again, as the other paths do.
    if (!EngineRegistered()) Engine::InitRsaEngine();
    if (!EngineRegistered()) {
        TESSAL_FAIL(result, 38, "SkfUKey::SignSM2P7");
        return result;
    }
    if (!m_signCert) {
        result = GetCertData();
        if (result != 0) return result;
    }
    EVP_PKEY* key = m_signingMaterial.Sm2Key(m_signCert);
    MessagePtr message(SM2M_new());
    SM2M_SIGNER_INFO* si = key && message && m_signCertInfo
                               ? NewSignedMessage(message.get(), m_signCert,
                                                  m_signingMaterial.Chain(*m_signCertInfo), key)
                               : nullptr;
    BIO* chain = si ? SM2M_dataInit(message.get(), nullptr) : nullptr;
    if (!chain) {
        TESSAL_FAIL(result, 60, "SkfUKey::SignSM2P7");
        return result;
    }
    bool written = data.length() == 0 || BIO_write(chain, data.data(), data.length()) == data.length();
    (void)BIO_flush(chain);
    bool signedOk = written && SM2M_dataFinal(message.get(), chain) == 1;
    BIO_free_all(chain);
    BIO* mem = BIO_new(BIO_s_mem());
    if (!signedOk || !mem || i2d_SM2M_bio(mem, message.get()) != 1) {
        BIO_free(mem);
        ERR_clear_error();
        TESSAL_FAIL(result, 60, "SkfUKey::SignSM2P7");
        return result;
    }
    char* bytes = nullptr;
    long len = BIO_get_mem_data(mem, &bytes);
    out = ByteArray(reinterpret_cast<unsigned char*>(bytes), static_cast<unsigned long>(len));
    BIO_free(mem);
    return result;
}

CResult SkfUKey::VerifySM2P7(ByteArray& p7, ByteArray& content) {
    CResult result;
    if (!EngineRegistered()) {
        TESSAL_FAIL(result, 38, "SkfUKey::VerifySM2P7");
        return result;
    }
    const unsigned char* p = p7.data();
    MessagePtr message(p ? d2i_SM2M(nullptr, &p, p7.length()) : nullptr);
    if (!message) {
        Engine::finish();
        TESSAL_FAIL(result, 44, "SkfUKey::VerifySM2P7");
        return result;
    }
    BIO* input = BIO_new_mem_buf(content.data() ? content.data() : reinterpret_cast<const unsigned char*>(""),
                                 content.length());
    BIO* chain = SM2M_dataInit(message.get(), input);
    if (!chain) BIO_free(input);
    std::vector<char> block(4096);
    while (chain && BIO_read(chain, block.data(), static_cast<int>(block.size())) > 0) {
    }
    STACK_OF(SM2M_SIGNER_INFO)* signers = SM2M_get_signer_info(message.get());
    for (int i = 0; chain && i < sk_SM2M_SIGNER_INFO_num(signers); ++i) {
        SM2M_SIGNER_INFO* si = sk_SM2M_SIGNER_INFO_value(signers, i);
        X509* cert = SM2M_find_signer_cert(message.get(), si);
        PkeyPtr key(cert ? KeyBackedSm2FromCertificate(cert) : nullptr);
        if (!key || SM2M_signatureVerify(chain, message.get(), si, key.get()) != 1) {
            TESSAL_FAIL(result, 59, "SkfUKey::VerifySM2P7");
            break;
        }
    }
    if (!chain && result == 0) TESSAL_FAIL(result, 59, "SkfUKey::VerifySM2P7");
    BIO_free_all(chain);
    Engine::finish();
    return result;
}
