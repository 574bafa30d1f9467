#include "certs/crl_scope.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <memory>

#include "api/log.h"

namespace {

// The reason flags keyCompromise (bit 1) to aACompromise (bit 8).
constexpr int kFirstReasonBit = 1;
constexpr int kLastReasonBit = 8;

struct IdpFree {
    void operator()(ISSUING_DIST_POINT* idp) const { ISSUING_DIST_POINT_free(idp); }
};
struct PointsFree {
    void operator()(CRL_DIST_POINTS* points) const { CRL_DIST_POINTS_free(points); }
};

bool IsImplementedCriticalExtension(int nid) {
    return nid == NID_issuing_distribution_point || nid == NID_authority_key_identifier;
}

bool HasUnhandledCriticalExtension(X509_CRL* crl) {
    for (int i = 0; i < X509_CRL_get_ext_count(crl); ++i) {
        X509_EXTENSION* extension = X509_CRL_get_ext(crl, i);
        if (X509_EXTENSION_get_critical(extension) &&
            !IsImplementedCriticalExtension(OBJ_obj2nid(X509_EXTENSION_get_object(extension))))
            return true;
    }
    STACK_OF(X509_REVOKED)* entries = X509_CRL_get_REVOKED(crl);
    for (int i = 0; i < sk_X509_REVOKED_num(entries); ++i) {
        X509_REVOKED* entry = sk_X509_REVOKED_value(entries, i);
        for (int j = 0; j < X509_REVOKED_get_ext_count(entry); ++j)
            if (X509_EXTENSION_get_critical(X509_REVOKED_get_ext(entry, j))) return true;
    }
    return false;
}

bool CoversAllReasons(const ASN1_BIT_STRING* reasons) {
    if (!reasons) return true;
    for (int bit = kFirstReasonBit; bit <= kLastReasonBit; ++bit)
        if (!ASN1_BIT_STRING_get_bit(reasons, bit)) return false;
    return true;
}

bool CoversCertificateKind(const ISSUING_DIST_POINT* idp, X509* certificate) {
    if (idp->onlyattr > 0) return false;
    bool isCa = (X509_get_extension_flags(certificate) & EXFLAG_CA) != 0;
    return isCa ? idp->onlyuser <= 0 : idp->onlyCA <= 0;
}

// Whether a directory name equals one of the directory names among `names`.
bool NamesDirectory(const GENERAL_NAMES* names, const X509_NAME* directory) {
    for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, i);
        if (name->type == GEN_DIRNAME && X509_NAME_cmp(name->d.directoryName, directory) == 0)
            return true;
    }
    return false;
}

// Gives a name relative to the CRL issuer its directory name (`dpname`); false when it cannot.
bool ResolveRelativeName(DIST_POINT_NAME* name, const X509_NAME* issuer) {
    return name->type != 1 || DIST_POINT_set_dpname(name, issuer) == 1;
}

// Whether two distribution point names (relative names resolved) share a name.
bool SameDistributionPoint(const DIST_POINT_NAME* a, const DIST_POINT_NAME* b) {
    bool relativeA = a->type == 1, relativeB = b->type == 1;
    if (relativeA && relativeB) return X509_NAME_cmp(a->dpname, b->dpname) == 0;
    if (relativeA) return NamesDirectory(b->name.fullname, a->dpname);
    if (relativeB) return NamesDirectory(a->name.fullname, b->dpname);
    for (int i = 0; i < sk_GENERAL_NAME_num(a->name.fullname); ++i)
        for (int j = 0; j < sk_GENERAL_NAME_num(b->name.fullname); ++j)
            if (GENERAL_NAME_cmp(sk_GENERAL_NAME_value(a->name.fullname, i),
                                 sk_GENERAL_NAME_value(b->name.fullname, j)) == 0)
                return true;
    return false;
}

// Whether the CRL covers every reason for the certificate's distribution point it is for: one
// the certificate's issuer publishes itself (no cRLIssuer) and that the CRL's
// issuingDistributionPoint names, when it names one.
bool CoversPointOfCertificate(X509* certificate, DIST_POINT_NAME* idpName,
                              const X509_NAME* issuer) {
    std::unique_ptr<CRL_DIST_POINTS, PointsFree> points(static_cast<CRL_DIST_POINTS*>(
        X509_get_ext_d2i(certificate, NID_crl_distribution_points, nullptr, nullptr)));
    if (idpName && !ResolveRelativeName(idpName, issuer)) return false;
    for (int i = 0; i < sk_DIST_POINT_num(points.get()); ++i) {
        DIST_POINT* point = sk_DIST_POINT_value(points.get(), i);
        if (point->CRLissuer) continue;
        if (idpName && (!point->distpoint || !ResolveRelativeName(point->distpoint, issuer) ||
                        !SameDistributionPoint(point->distpoint, idpName)))
            continue;
        return CoversAllReasons(point->reasons);
    }
    return !idpName;  // a CRL for no particular point covers the issuer's certificates
}

bool CoversCertificate(X509_CRL* crl, X509* certificate) {
    int critical = 0;
    std::unique_ptr<ISSUING_DIST_POINT, IdpFree> idp(static_cast<ISSUING_DIST_POINT*>(
        X509_CRL_get_ext_d2i(crl, NID_issuing_distribution_point, &critical, nullptr)));
    if (!idp && critical != -1) return false;  // present but unreadable, or given twice
    if (idp && (idp->indirectCRL > 0 || !CoversAllReasons(idp->onlysomereasons) ||
                !CoversCertificateKind(idp.get(), certificate)))
        return false;
    return CoversPointOfCertificate(certificate, idp ? idp->distpoint : nullptr,
                                    X509_CRL_get_issuer(crl));
}

}  // namespace

bool IsCompleteCrlFor(X509_CRL* crl, X509* certificate) {
    bool complete = false;
    if (X509_CRL_get_ext_by_NID(crl, NID_delta_crl, -1) >= 0)
        TLOG_ERROR("CRL is a delta CRL, not a complete one");
    else if (HasUnhandledCriticalExtension(crl))
        TLOG_ERROR("CRL has a critical extension that is not handled");
    else if (!CoversCertificate(crl, certificate))
        TLOG_ERROR("CRL scope does not cover the certificate");
    else
        complete = true;
    ERR_clear_error();
    return complete;
}
