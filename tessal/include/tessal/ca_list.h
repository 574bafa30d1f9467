// The certificate-authority material built into the library.
#pragma once

#include <map>
#include <string>

#include "tessal/cert_info.h"
#include "tessal/export.h"

class TESSAL_API CAList {
public:
    static CAList& getInstance();

    // The built-in CA certificate with this subject common name (exact), or null; owned by the list.
    CertInfo* GetCACertInfoByName(std::string name);

    // Signature algorithm OID (dotted) -> the name shown to users.
    static std::map<std::string, std::string> mapAlgInfo;
    // Base64 of the tamper-evidence CA certificates.
    static std::string m_rsaTamperCert;
    static std::string m_sm2TamperCert;

    std::map<std::string, CertInfo*> m_caMap;

private:
    CAList();
    virtual ~CAList();
    CAList(const CAList&) = delete;
    CAList& operator=(const CAList&) = delete;
};
