// Exports of the signing and verification family.
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>

#include <vector>

#include "api/encodings.h"
#include "api/export_frame.h"
#include "api/input_limits.h"
#include "api/log.h"
#include "gmcrypto/key_objects.h"
#include "gmcrypto/sm2_message.h"
#include "tessal/cert_info.h"
#include "tessal/engine.h"
#include "tessal/signing.h"

namespace {

// The current key, once its PIN was verified; null after writing the message that applies.
SkfUKey* SigningKey(ExportFrame& frame) { return dynamic_cast<SkfUKey*>(frame.PinVerifiedKey()); }

void ReadThrough(BIO* bio) {
    std::vector<char> block(4096);
    while (BIO_read(bio, block.data(), static_cast<int>(block.size())) > 0) {
    }
}

// The generation time of a signer's time-stamp token, as certificate times are shown.
std::string TimeStampTime(SM2M_SIGNER_INFO* si) {
    int index = X509at_get_attr_by_NID(si->unauth_attr, NID_id_smime_aa_timeStampToken, -1);
    if (index < 0) return std::string();
    ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(X509at_get_attr(si->unauth_attr, index), 0);
    if (!value || value->type != V_ASN1_SEQUENCE) return std::string();
    const unsigned char* p = ASN1_STRING_get0_data(value->value.sequence);
    PKCS7* token = d2i_PKCS7(nullptr, &p, ASN1_STRING_length(value->value.sequence));
    TS_TST_INFO* info = token ? PKCS7_to_TS_TST_INFO(token) : nullptr;
    std::string text;
    if (info) text = CertInfo::ASN1_TimeConvert(const_cast<ASN1_GENERALIZEDTIME*>(TS_TST_INFO_get_time(info)));
    TS_TST_INFO_free(info);
    PKCS7_free(token);
    return text;
}

}  // namespace

bool ZYKSignData(std::string& data, std::string pin, std::string& signature) try {
    ExportFrame frame;
    SkfUKey* key = SigningKey(frame);
    int retry = 0;
    if (!key || !InputFits(data.size()) || key->VerifyPin(pin, retry) != 0) return false;
    ByteArray bytes(reinterpret_cast<const unsigned char*>(data.data()),
                    static_cast<unsigned long>(data.size()));
    ByteArray sig;
    if (key->Sign(bytes, sig) != 0) return false;
    signature = Base64Encode(sig);
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKSignDigest(std::string& digest, std::string& signature) try {
    ExportFrame frame;
    SkfUKey* key = SigningKey(frame);
    if (!key) return false;
    ByteArray value = Base64Decode(digest);
    // The certificate decides between SM2 and RSA: read it first when that has not happened.
    if (!key->GetSignCert() && key->GetCertData() != 0) return false;
    ByteArray out;
    if (key->CurrentCertIsSM2()) {
        if (key->SignSM2P7(value, out) != 0) return false;
    } else {
        EnsureRsaEngineRegistered();
        if (key->SignDigest(value, out) != 0) return false;
    }
    signature = Base64Encode(out);
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKSignP7(const std::string& data, std::string& p7, int detached) try {
    ExportFrame frame;
    SkfUKey* key = SigningKey(frame);
    if (!key) return false;
    EnsureRsaEngineRegistered();
    ByteArray out;
    if (key->SignP7(Base64Decode(data), out, detached) != 0) return false;
    p7 = Base64Encode(out);
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKSignSM2Digest(std::string digest, std::string& signature) try {
    ExportFrame frame;
    SkfUKey* key = SigningKey(frame);
    if (!key) return false;
    ByteArray out;
    if (key->SignSM2Digest(Base64Decode(digest), out) != 0) return false;
    signature = Base64Encode(out);
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKSignSeal(std::string data, std::string& signature) try {
    ExportFrame frame;
    TLOG_DEBUG("start checknull");
    auto* key = dynamic_cast<SkfUKey*>(frame.Key());
    if (!key) return false;
    TLOG_DEBUG("start checkpin");
    if (!frame.PinVerifiedKey()) return false;
    ByteArray bytes = Base64Decode(data);
    TLOG_DEBUG("start SM2SignWithFormat");
    ByteArray sig;
    if (key->SM2SignWithFormat(bytes, sig) != 0) return false;
    signature = Base64Encode(sig);
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKVerifySignData(const std::string& data, const std::string& p7, const std::string&) try {
    ByteArray der = Base64Decode(p7);
    ByteArray content = Base64Decode(data);
    const unsigned char* p = der.data();
    PKCS7* pkcs7 = p ? d2i_PKCS7(nullptr, &p, der.length()) : nullptr;
    if (!pkcs7 || !PKCS7_type_is_signed(pkcs7)) {
        PKCS7_free(pkcs7);
        return false;
    }
    BIO* detachedContent = nullptr;
    if (PKCS7_get_detached(pkcs7)) {
        if (content.IsEmpty()) {
            PKCS7_free(pkcs7);
            return false;
        }
        detachedContent = BIO_new_mem_buf(content.data(), content.length());
    }
    BIO* chain = PKCS7_dataInit(pkcs7, detachedContent);
    bool verified = false;
    if (chain) {
        ReadThrough(chain);
        STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(pkcs7);
        for (int i = 0; !verified && i < sk_PKCS7_SIGNER_INFO_num(signers); ++i) {
            PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(signers, i);
            X509* cert = PKCS7_cert_from_signer_info(pkcs7, si);
            verified = cert && PKCS7_signatureVerify(chain, pkcs7, si, cert) == 1;
        }
        BIO_free_all(chain);
    } else {
        BIO_free(detachedContent);
    }
    PKCS7_free(pkcs7);
    ERR_clear_error();
    return verified;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKVerifySM2Digest(std::string digest, std::string p7, std::string& certificate,
                        std::string& signingTime) try {
    QLogger::GetInstance().Debug("start ZYKVerifyPdfSm2P7");
    ByteArray value = Base64Decode(digest);
    ByteArray der = Base64Decode(p7);
    EnsureRsaEngineRegistered();
    const unsigned char* p = der.data();
    SM2M* message = p ? d2i_SM2M(nullptr, &p, der.length()) : nullptr;
    if (!message) return false;
    STACK_OF(SM2M_SIGNER_INFO)* signers = SM2M_get_signer_info(message);
    int count = signers ? sk_SM2M_SIGNER_INFO_num(signers) : 0;
    bool ok = count > 0;
    for (int i = 0; ok && i < count; ++i) {
        SM2M_SIGNER_INFO* si = sk_SM2M_SIGNER_INFO_value(signers, i);
        X509* cert = SM2M_find_signer_cert(message, si);
        if (!cert || SM2M_digestVerify(value.data(), value.length(), message, si, cert) != 1) {
            ok = false;
            break;
        }
        certificate = CertInfo(cert).getCertBase64Data();
        signingTime = TimeStampTime(si);
    }
    SM2M_free(message);
    return ok;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}
