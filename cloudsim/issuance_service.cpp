#include "issuance_service.h"

#include <rapidjson/document.h>

#include <algorithm>

#include "base64.h"
#include "kit/json_parse.h"

namespace {

const char kJson[] = "application/json";

// Checks that `body` is an object of string members: all of `required`, any of `optional`,
// nothing else. The first problem goes to `why`.
bool CheckMembers(const rapidjson::Document& body, const std::vector<std::string>& required,
                  const std::vector<std::string>& optional, std::string& why) {
    if (!body.IsObject()) {
        why = "body is not a JSON object";
        return false;
    }
    for (const std::string& name : required) {
        if (!body.HasMember(name.c_str())) {
            why = "missing member " + name;
            return false;
        }
    }
    for (const auto& m : body.GetObject()) {
        std::string name(m.name.GetString(), m.name.GetStringLength());
        bool known = std::find(required.begin(), required.end(), name) != required.end() ||
                     std::find(optional.begin(), optional.end(), name) != optional.end();
        if (!known) {
            why = "unexpected member " + name;
            return false;
        }
        if (!m.value.IsString()) {
            why = "member " + name + " must be a string";
            return false;
        }
    }
    return true;
}

std::string Member(const rapidjson::Document& body, const char* name) {
    if (!body.IsObject() || !body.HasMember(name) || !body[name].IsString()) return std::string();
    return std::string(body[name].GetString(), body[name].GetStringLength());
}

std::vector<std::string> RequiredFor(const std::string& tenantType) {
    if (tenantType == "PERSONAL")
        return {"tenantType", "name", "telephone", "docID", "p10", "deviceId", "validity"};
    return {"name", "tenantType", "telephone", "p10", "deviceId", "docID", "email", "validity"};
}

}  // namespace

IssuanceService::IssuanceService(const std::string& stateDir,
                                 std::function<void(const httplib::Request&)> record)
    : m_ca(stateDir), m_record(std::move(record)) {}

void IssuanceService::Register(httplib::Server& server) {
    auto route =
        [this](void (IssuanceService::*handler)(const httplib::Request&, httplib::Response&)) {
            return [this, handler](const httplib::Request& req, httplib::Response& res) {
                m_record(req);
                (this->*handler)(req, res);
            };
        };
    auto apply = [this](Application kind) {
        return [this, kind](const httplib::Request& req, httplib::Response& res) {
            m_record(req);
            Apply(req, res, kind);
        };
    };
    server.Post("/cert/ukey/apply/signature", apply(Application::Direct));
    server.Post("/common/ukey/applyukeycert", apply(Application::Gateway));
    server.Post("/private/ukey/order/applycert", apply(Application::Double));
    server.Post("/cert/ukey/download", route(&IssuanceService::Download));
    server.Post("/common/ukey/downloadukeycert", route(&IssuanceService::DownloadOnGateway));
    server.Post("/private/ukey/order/download", route(&IssuanceService::DownloadDouble));
}

bool IssuanceService::Control(const std::string& mode, int count) {
    static const std::map<std::string, Fault> kModes = {
        {"normal", Fault::None},      {"refuse", Fault::Refuse}, {"lowercase", Fault::LowerCase},
        {"nested", Fault::Nested},    {"broken", Fault::Broken}, {"noenckey", Fault::NoEncKey},
        {"junkcert", Fault::JunkCert}};
    auto it = kModes.find(mode);
    if (it == kModes.end()) return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fault = it->second;
    m_remaining = it->second == Fault::None ? 0 : count;
    return true;
}

bool IssuanceService::Take(Fault fault) {
    if (m_fault != fault || m_remaining <= 0) return false;
    if (--m_remaining == 0) m_fault = Fault::None;
    return true;
}

std::string IssuanceService::Answer(int code, const std::string& message,
                                    const ResultWriter& result) {
    bool success = message == "SUCCESS";
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("code");
    w.Int(code);
    w.Key("message");
    w.String(success && Take(Fault::LowerCase) ? "success" : message.c_str());
    if (result) {
        w.Key("result");
        result(w);
    }
    w.EndObject();
    std::string text = buffer.GetString();
    if (success && Take(Fault::Broken)) text.replace(text.size() - 1, 1, ",,\"broken");
    return text;
}

void IssuanceService::Apply(const httplib::Request& req, httplib::Response& res, Application kind) {
    rapidjson::Document body;
    kit::ParseJson(req.body, body);
    std::vector<std::string> required, optional;
    switch (kind) {
        case Application::Direct:
            required = RequiredFor(Member(body, "tenantType"));
            optional = {"orderId", "caType", "platformName", "customerId"};
            break;
        case Application::Gateway:
            required = {"deviceId", "docId", "name",    "tenantType", "customerId",     "caType",
                        "validity", "p10",   "orderId", "contact",    "ukeyOrderCertId"};
            break;
        case Application::Double:
            required = {"deviceId", "p10", "orderId"};
            break;
    }
    std::string why;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string tenantType = Member(body, "tenantType");
    if (CheckMembers(body, required, optional, why) && kind == Application::Direct &&
        tenantType != "CORPORATE" && tenantType != "PERSONAL")
        why = "unknown tenantType";
    if (!why.empty()) {
        res.set_content(Refusal(400, why), kJson);
        return;
    }
    if (Take(Fault::Refuse)) {
        res.set_content(Refusal(403, "application refused"), kJson);
        return;
    }
    std::string deviceId = Member(body, "deviceId"), orderId = Member(body, "orderId");
    if (!Issue(kind, Member(body, "p10"), deviceId, orderId, why)) {
        res.set_content(Refusal(400, why), kJson);
        return;
    }
    res.set_content(Answer(200, "SUCCESS",
                           [&](rapidjson::Writer<rapidjson::StringBuffer>& w) {
                               w.String(orderId.c_str(),
                                        static_cast<rapidjson::SizeType>(orderId.size()));
                           }),
                    kJson);
}

bool IssuanceService::Issue(Application kind, const std::string& p10, const std::string& deviceId,
                            const std::string& orderId, std::string& why) {
    std::string der;
    if (!Base64Decode(p10, der)) {
        why = "p10 is not Base64";
        return false;
    }
    X509_REQ* request = m_ca.VerifiedRequest(der, why);
    if (!request) return false;
    std::string signing = m_ca.IssueSigning(request);
    std::string encCert, encKey;
    bool ok = !signing.empty() &&
              (kind != Application::Double || m_ca.IssueEncryption(request, encCert, encKey));
    X509_REQ_free(request);
    if (!ok) {
        why = "the certificate could not be issued";
        return false;
    }
    ReportIssued(signing);
    if (kind == Application::Double) ReportIssued(encCert);
    m_issued.push_back({deviceId, orderId, Base64Encode(signing)});
    if (kind == Application::Double)
        m_doubles[deviceId] = {Base64Encode(signing), Base64Encode(encCert), Base64Encode(encKey)};
    return true;
}

std::string IssuanceService::SigningCertificate(const std::string& issued) {
    return Take(Fault::JunkCert) ? Base64Encode(std::string("GARBAGE")) : issued;
}

void IssuanceService::ReportIssued(const std::string& der) const {
    if (!m_onIssued) return;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    if (cert) m_onIssued(cert);
    X509_free(cert);
}

const IssuanceService::Issued* IssuanceService::Find(const std::string& deviceId,
                                                     const std::string& orderId,
                                                     bool anyOrder) const {
    for (auto it = m_issued.rbegin(); it != m_issued.rend(); ++it)
        if (it->deviceId == deviceId && (anyOrder || it->orderId == orderId)) return &*it;
    return nullptr;
}

void IssuanceService::Download(const httplib::Request& req, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!req.has_param("deviceId")) {
        res.set_content(Refusal(400, "missing deviceId"), kJson);
        return;
    }
    const Issued* issued = Find(req.get_param_value("deviceId"), req.get_param_value("orderId"),
                                !req.has_param("orderId"));
    if (!issued) {
        res.set_content(Refusal(404, "no certificate for this device and order"), kJson);
        return;
    }
    std::string cert = SigningCertificate(issued->cert);
    bool nested = Take(Fault::Nested);
    res.set_content(Answer(200, "SUCCESS",
                           [&](rapidjson::Writer<rapidjson::StringBuffer>& w) {
                               if (!nested) {
                                   w.String(cert.c_str());
                                   return;
                               }
                               w.StartObject();
                               w.Key("code");
                               w.String("issued");
                               w.Key("result");
                               w.String(cert.c_str());
                               w.EndObject();
                           }),
                    kJson);
}

void IssuanceService::DownloadOnGateway(const httplib::Request& req, httplib::Response& res) {
    rapidjson::Document body;
    kit::ParseJson(req.body, body);
    std::string why;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!CheckMembers(body, {"orderId", "contact", "ukeyOrderCertId", "deviceId"}, {}, why)) {
        res.set_content(Refusal(400, why), kJson);
        return;
    }
    const Issued* issued = Find(Member(body, "deviceId"), Member(body, "orderId"), false);
    if (!issued) {
        res.set_content(Refusal(404, "no certificate for this device and order"), kJson);
        return;
    }
    std::string cert = SigningCertificate(issued->cert);
    res.set_content(
        Answer(200, "SUCCESS",
               [&](rapidjson::Writer<rapidjson::StringBuffer>& w) { w.String(cert.c_str()); }),
        kJson);
}

void IssuanceService::DownloadDouble(const httplib::Request& req, httplib::Response& res) {
    rapidjson::Document body;
    kit::ParseJson(req.body, body);
    std::string why;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!CheckMembers(body, {"deviceId"}, {}, why)) {
        res.set_content(Refusal(400, why), kJson);
        return;
    }
    auto it = m_doubles.find(Member(body, "deviceId"));
    if (it == m_doubles.end()) {
        res.set_content(Refusal(404, "no certificates for this device"), kJson);
        return;
    }
    DoubleIssued issued = it->second;
    issued.pubCert = SigningCertificate(issued.pubCert);
    bool withoutKey = Take(Fault::NoEncKey);
    res.set_content(Answer(200, "SUCCESS",
                           [&](rapidjson::Writer<rapidjson::StringBuffer>& w) {
                               w.StartObject();
                               w.Key("pubCert");
                               w.String(issued.pubCert.c_str());
                               w.Key("encCert");
                               w.String(issued.encCert.c_str());
                               if (!withoutKey) {
                                   w.Key("encKey");
                                   w.String(issued.encKey.c_str());
                               }
                               w.EndObject();
                           }),
                    kJson);
}
