// Exports that decide a certificate's revocation status.
#include "certs/crl_check.h"
#include "cloud/ocsp.h"
#include "tessal/certificates.h"

int ZYKCertValidity(const std::string& certificate, const std::string& issuerCertificate, std::string& ocspResponse,
                    std::string& crl) {
    int status = OCSP::OCSP_Query(certificate, issuerCertificate, ocspResponse);
    if (status != 1) return status;
    return checkCrlRevocation(certificate, issuerCertificate, crl);
}
