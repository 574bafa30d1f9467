// The gateway's certificate status check ("/cert/ukey/app/check/cert/validity"): checks the
// application signature and answers from the simulator's own CA records and trust directory.
#pragma once

#include <httplib.h>

#include <mutex>
#include <string>

#include "cert_records.h"
#include "pki.h"

class StatusService {
public:
    // Certificates of CAs in `stateDir`/trust count as issued by trusted CAs.
    StatusService(const Pki& pki, const std::string& stateDir);

    void Mount(httplib::Server& server);

    // Test control requests naming "status" (see the README); false for any other request.
    bool Control(const httplib::Request& req, httplib::Response& res);

    // The records the issuing service adds to.
    CertRecords& Records() { return m_records; }

private:
    void Serve(const httplib::Request& req, httplib::Response& res);
    // The answer for a well-signed request; `httpStatus` set for requests it cannot read.
    std::string Answer(const std::string& body, int& httpStatus);
    std::string Verdict(X509* cert, const std::string& serialNo);
    // A forced answer for the next request, if a test asked for one.
    bool TakeForcedAnswer(std::string& answer);

    const Pki& m_pki;
    std::string m_trustDir;
    CertRecords m_records;
    std::mutex m_mutex;
    std::string m_forcedAnswer;
    int m_forcedRemaining = 0;
    std::string m_secretOverride;
    std::string m_lastRequest;  // body of the last well-signed request
};
