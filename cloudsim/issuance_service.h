// The certificate issuance service and its gateway variants: applications carrying a PKCS#10
// request are checked and answered with real certificates from the issuing CAs, which the
// download paths hand out as Base64.
#pragma once

#include <httplib.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "issuing_ca.h"

class IssuanceService {
public:
    // `record` is told of every request the service receives. Throws when the CAs cannot be set up.
    IssuanceService(const std::string& stateDir,
                    std::function<void(const httplib::Request&)> record);

    // The six paths: applications and downloads on the issuance host and the gateway.
    void Register(httplib::Server& server);

    // Test control: the next `count` answers misbehave as `mode` says: "refuse" (applications),
    // "lowercase" ("success"), "nested" (downloads: "result" inside a nested "result"),
    // "broken" (the JSON breaks after "SUCCESS"), "noenckey" (double downloads without
    // "encKey"), "junkcert" (downloads answer "SUCCESS" with bytes that are not a certificate
    // in place of the signing certificate), or "normal" again. False for an unknown mode.
    bool Control(const std::string& mode, int count);

    // `issued` is told of every certificate handed out (signing and encryption ones); set it
    // before the server runs.
    void OnIssued(std::function<void(X509*)> issued) { m_onIssued = std::move(issued); }
    const IssuingCa& Ca() const { return m_ca; }

private:
    enum class Fault { None, Refuse, LowerCase, Nested, Broken, NoEncKey, JunkCert };
    enum class Application { Direct, Gateway, Double };
    struct Issued {
        std::string deviceId, orderId, cert;  // cert: Base64 DER
    };
    struct DoubleIssued {
        std::string pubCert, encCert, encKey;  // Base64
    };
    using ResultWriter = std::function<void(rapidjson::Writer<rapidjson::StringBuffer>&)>;

    void Apply(const httplib::Request& req, httplib::Response& res, Application kind);
    void Download(const httplib::Request& req, httplib::Response& res);
    void DownloadOnGateway(const httplib::Request& req, httplib::Response& res);
    void DownloadDouble(const httplib::Request& req, httplib::Response& res);

    // Issues what an accepted application asks for; the reason in `why` when it cannot.
    bool Issue(Application kind, const std::string& p10, const std::string& deviceId,
               const std::string& orderId, std::string& why);
    const Issued* Find(const std::string& deviceId, const std::string& orderId,
                       bool anyOrder) const;
    // Consumes one counted fault when `fault` is the one set.
    bool Take(Fault fault);
    // The signing certificate a download hands out: `issued`, or junk under the "junkcert" fault.
    std::string SigningCertificate(const std::string& issued);
    // Tells `m_onIssued` of a certificate given as DER.
    void ReportIssued(const std::string& der) const;
    // {"code":..,"message":..,"result":..}, with the lower-case and broken faults applied.
    std::string Answer(int code, const std::string& message, const ResultWriter& result);
    std::string Refusal(int code, const std::string& message) {
        return Answer(code, message, nullptr);
    }

    IssuingCa m_ca;
    std::function<void(const httplib::Request&)> m_record;
    std::function<void(X509*)> m_onIssued;
    std::mutex m_mutex;
    std::vector<Issued> m_issued;
    std::map<std::string, DoubleIssued> m_doubles;  // by device id: the latest
    Fault m_fault = Fault::None;
    int m_remaining = 0;
};
