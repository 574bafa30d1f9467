// The mobile seal service and the phone behind it: signing sessions under "/app/cert/mobileSeal".
// Requests must carry the application signature of the mobile pair the client's URL selects.
#pragma once

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "pki.h"

class MobileService {
public:
    // The phone signs with a certificate from the simulator's CA (mobile-signer.pem/.key in
    // `stateDir`, made on first start). `hang` blocks a request a test wants to hang. Throws on failure.
    MobileService(const Pki& pki, const std::string& stateDir, std::function<void()> hang);
    ~MobileService();
    MobileService(const MobileService&) = delete;
    MobileService& operator=(const MobileService&) = delete;

    void Mount(httplib::Server& server);

    // Test control requests naming "mobile" (see the README); false for any other request.
    bool Control(const httplib::Request& req, httplib::Response& res);

private:
    struct Session {
        std::string fileName;
        std::string digest;  // empty until uploaded
        std::string signActionId;
        std::map<std::string, long> seals;
        int polls = 0;
        std::string p7;  // Base64, once the phone has signed
        bool finished = false;
    };
    struct Forced {
        std::string answer;
        bool hang;
    };
    struct Recorded {
        std::string path, nonce, body;
        bool accepted;
    };
    using Handler = std::string (MobileService::*)(const std::string& body);

    void Serve(const std::string& path, Handler handler, const httplib::Request& req, httplib::Response& res);
    bool TakeForced(const std::string& path, Forced& forced);
    std::string Generate(const std::string& body);
    std::string Upload(const std::string& body);
    std::string Status(const std::string& body);
    std::string SignResult(const std::string& body);
    std::string Finish(const std::string& body);
    std::string SealList(const std::string& body);
    // The session the body's "signSid" names, or null with `error` set to the answer.
    Session* Find(const std::string& body, std::string& error);
    std::string StatusOf(const Session& session) const;

    std::function<void()> m_hang;
    X509* m_signer = nullptr;
    EVP_PKEY* m_signerKey = nullptr;
    std::mutex m_mutex;  // guards everything below
    std::map<std::string, Session> m_sessions;
    int m_signAfterPolls = 3;  // 0: the phone never signs
    std::map<std::string, std::deque<Forced>> m_forced;  // per path, taken in order
    std::vector<Recorded> m_requests;
};
