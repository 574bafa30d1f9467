// What the simulated CA side knows about certificates: those its CAs issued and those it
// revoked. Kept in the state directory ("issued.txt", "revoked.txt"), so a restart remembers.
#pragma once

#include <openssl/x509.h>

#include <mutex>
#include <set>
#include <string>

class CertRecords {
public:
    // Loads the records of `dir`, which must exist.
    explicit CertRecords(const std::string& dir);

    // Records a certificate one of the simulator's CAs issued; the issuing service calls this
    // for every certificate it hands out.
    void RecordIssued(X509* cert);
    // Records the revocation of a certificate (by issuer and serial number).
    void RecordRevoked(X509* cert);

    // True for exactly the certificates recorded as issued (same DER encoding).
    bool IsIssued(X509* cert);
    bool IsRevoked(X509* cert);

private:
    void Append(const std::string& file, const std::string& entry);
    std::mutex m_mutex;
    std::string m_dir;
    std::set<std::string> m_issued;
    std::set<std::string> m_revoked;
};

// Upper-case hexadecimal serial number of `cert`.
std::string SerialHex(X509* cert);
