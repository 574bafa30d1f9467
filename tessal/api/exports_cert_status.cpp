// Exports that decide a certificate's revocation status, locally or through the cloud.
#include "api/encodings.h"
#include "api/input_limits.h"
#include "certs/cert_status_rules.h"
#include "certs/crl_check.h"
#include "cloud/call_deadline.h"
#include "cloud/ocsp.h"
#include "tessal/cert_info.h"
#include "tessal/certificates.h"
#include "tessal/http.h"

namespace {

// The whole validity check (the OCSP exchange and every CRL download) ends within this limit;
// the distribution points, and so the number of downloads, are chosen by whoever made the
// certificate.
constexpr std::chrono::milliseconds kCertValidityLimit(20000);

}  // namespace

int ZYKCertValidity(const std::string& certificate, const std::string& issuerCertificate,
                    std::string& ocspResponse, std::string& crl) try {
    cloud::CallDeadline limit(
        cloud::LimitFromEnvironment("TESSAL_CERT_VALIDITY_LIMIT_MS", kCertValidityLimit));
    if (!Base64InputFits(certificate) || !Base64InputFits(issuerCertificate)) return 1;
    int status = OCSP::OCSP_Query(certificate, issuerCertificate, ocspResponse);
    if (status != 1) return status;
    return checkCrlRevocation(certificate, issuerCertificate, crl);
} catch (const std::exception& e) {
    return ExportFailure(e, 1);
}

int ZYKCheckValidityOnCloud(const std::string& certificate) try {
    if (!Base64InputFits(certificate)) return 0;
    CertInfo info(Base64Decode(certificate));
    if (IsIssuedByOwnCa(info)) return kOwnCaValidity;  // the maker's own CA: the service is not asked
    return CHttpClient::CheckCertValidity(info.getSN(), certificate, StatusAlgorithmText(info));
} catch (const std::exception& e) {
    return ExportFailure(e, 0);
}

std::string ZYKGetCertStatusMagOnCloud(const std::string& certificate) try {
    if (!Base64InputFits(certificate)) return "UNKNOWN";
    CertInfo info(Base64Decode(certificate));
    std::string local = LocalStatusText(info);
    if (!local.empty()) return local;
    return CHttpClient::GetCertStatusMsg(info.getSN(), certificate, StatusAlgorithmText(info));
} catch (const std::exception& e) {
    return ExportFailure(e, std::string("UNKNOWN"));
}
