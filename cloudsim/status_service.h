// The gateway's certificate status check ("/cert/ukey/app/check/cert/validity"): checks the
// application signature and answers from the simulator's own CA records and trust directory.
#pragma once

#include <httplib.h>

#include <mutex>
#include <string>
#include <vector>

#include "cert_records.h"
#include "pki.h"

class StatusService {
public:
    // Certificates of CAs in `stateDir`/trust count as issued by trusted CAs.
    StatusService(const Pki& pki, const std::string& stateDir);
    ~StatusService();
    StatusService(const StatusService&) = delete;
    StatusService& operator=(const StatusService&) = delete;

    // Counts `ca` among the simulator's own CAs besides the PKI's CA: a root for
    // "existRootCert" and accepted by the register control. Call before the server runs.
    void AddOwnCa(X509* ca);

    void Mount(httplib::Server& server);

    // Test control requests naming "status" (see the README); false for any other request.
    bool Control(const httplib::Request& req, httplib::Response& res);

    // The records the issuing service adds to.
    CertRecords& Records() { return m_records; }

private:
    void Serve(const httplib::Request& req, httplib::Response& res);
    // The answer for a well-signed request; `httpStatus` set for requests it cannot read.
    std::string Answer(const std::string& body, int& httpStatus);
    // One entry of the answer's "result" list.
    struct Verdict {
        std::string serialNo;
        bool issued;
        bool trustCaIssue;
        bool existRootCert;
        std::string status;
        std::string detail;
    };
    Verdict Check(X509* cert, const std::string& serialNo);
    // True when one of the simulator's own CAs signed `cert`.
    bool SignedByOwnCa(X509* cert) const;
    // A forced answer for the next request, if a test asked for one.
    bool TakeForcedAnswer(std::string& answer);

    std::string m_trustDir;
    CertRecords m_records;
    std::vector<X509*> m_ownCas;  // the PKI's CA first; the others held by reference count
    std::mutex m_mutex;
    std::string m_forcedAnswer;
    int m_forcedRemaining = 0;
    std::string m_secretOverride;
    std::string m_lastRequest;  // body of the last well-signed request
};
