#include "certs/crl_check.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <cstring>

#include "api/encodings.h"
#include "api/log.h"
#include "certs/crl_scope.h"
#include "certs/signature_check.h"
#include "cloud/call_deadline.h"
#include "tessal/http.h"

namespace {

constexpr int kNotRevoked = 0;
constexpr int kUnknown = 1;
constexpr int kRevoked = 2;

// The first URI of a full name that starts with "http://" (exactly) and is longer than 6
// characters.
const char* PlainHttpUri(const DIST_POINT* point) {
    if (!point->distpoint || point->distpoint->type != 0) return nullptr;
    GENERAL_NAMES* names = point->distpoint->name.fullname;
    for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, i);
        if (name->type != GEN_URI) continue;
        const ASN1_IA5STRING* uri = name->d.uniformResourceIdentifier;
        const char* text = reinterpret_cast<const char*>(ASN1_STRING_get0_data(uri));
        if (ASN1_STRING_length(uri) > 6 && std::strncmp(text, "http://", 7) == 0 &&
            std::strlen(text) == static_cast<size_t>(ASN1_STRING_length(uri)))
            return text;
    }
    return nullptr;
}

std::string SerialHex(const ASN1_INTEGER* serial) {
    std::string sign = ASN1_STRING_type(serial) == V_ASN1_NEG_INTEGER ? "-" : "";
    return sign + HexEncode(reinterpret_cast<const char*>(ASN1_STRING_get0_data(serial)), ASN1_STRING_length(serial));
}

// Whether the CRL may speak for `certificate`: issued and signed by `issuer`, not expired.
bool IsCrlOfIssuer(X509_CRL* crl, X509* certificate, X509* issuer) {
    if (!issuer || X509_NAME_cmp(X509_CRL_get_issuer(crl), X509_get_subject_name(issuer)) != 0 ||
        X509_NAME_cmp(X509_get_issuer_name(certificate), X509_get_subject_name(issuer)) != 0) {
        TLOG_ERROR("CRL issuer is not the certificate's issuer");
        return false;
    }
    if (!IsSignedBy(crl, X509_get0_pubkey(issuer))) {
        TLOG_ERROR("CRL signature does not verify with the issuer's key");
        return false;
    }
    const ASN1_TIME* nextUpdate = X509_CRL_get0_nextUpdate(crl);
    if (nextUpdate && X509_cmp_current_time(nextUpdate) <= 0) {
        TLOG_ERROR("CRL expired: its nextUpdate has passed");
        return false;
    }
    return true;
}

bool IsListed(X509_CRL* crl, X509* certificate) {
    std::string serial = SerialHex(X509_get0_serialNumber(certificate));
    STACK_OF(X509_REVOKED)* entries = X509_CRL_get_REVOKED(crl);
    for (int i = 0; i < sk_X509_REVOKED_num(entries); ++i)
        if (SerialHex(X509_REVOKED_get0_serialNumber(sk_X509_REVOKED_value(entries, i))) == serial) return true;
    return false;
}

}  // namespace

X509CrlPtr fetchCrlFromDistributionPoints(X509* certificate) {
    auto* points =
        static_cast<CRL_DIST_POINTS*>(X509_get_ext_d2i(certificate, NID_crl_distribution_points, nullptr, nullptr));
    X509CrlPtr answer;
    for (int i = 0; i < sk_DIST_POINT_num(points); ++i) {
        const char* url = PlainHttpUri(sk_DIST_POINT_value(points, i));
        if (!url) continue;
        std::string body;
        CHttpClient::GetCRLData(url, body);  // whatever came back is parsed as it is
        answer = CrlFromDer(body);
        if (cloud::CallDeadlinePassed()) {  // the points after this one can no longer be read
            TLOG_ERROR("CRL distribution points not read within the call's time limit");
            answer.reset();
            break;
        }
    }
    CRL_DIST_POINTS_free(points);
    ERR_clear_error();
    return answer;
}

int checkCrlRevocation(const std::string& certificateText, const std::string& issuerText, std::string& crlBase64Out) {
    X509Ptr certificate = CertificateFromBase64(certificateText);
    if (!certificate) return kUnknown;
    X509CrlPtr crl = fetchCrlFromDistributionPoints(certificate.get());
    return RevocationFromCrl(crl.get(), certificate.get(), issuerText, crlBase64Out);
}

int RevocationFromCrl(X509_CRL* crl, X509* certificate, const std::string& issuerText, std::string& crlBase64Out) {
    if (!crl) return kUnknown;
    crlBase64Out = Base64OfDer(DerOf(crl, i2d_X509_CRL));
    X509Ptr issuer = CertificateFromBase64(issuerText);
    int result =
        !IsCrlOfIssuer(crl, certificate, issuer.get()) || !IsCompleteCrlFor(crl, certificate)
            ? kUnknown
        : IsListed(crl, certificate) ? kRevoked
                                     : kNotRevoked;
    ERR_clear_error();
    return result;
}
