#include "mobile_service.h"

#include <openssl/rand.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdlib>

#include "app_auth.h"
#include "base64.h"
#include "digest_signer.h"
#include "kit/json_parse.h"

namespace {

const char kBase[] = "/app/cert/mobileSeal";
const char kJson[] = "application/json";
const size_t kKeptRequests = 1000;  // the record tests read; a long-running simulator keeps the latest

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

void WriteText(Writer& w, const std::string& text) { w.String(text.data(), static_cast<rapidjson::SizeType>(text.size())); }

// {"code":code,"message":message[,"result":...]}
std::string Answer(int code, const std::string& message, const std::function<void(Writer&)>& result = nullptr) {
    rapidjson::StringBuffer buffer;
    Writer w(buffer);
    w.StartObject();
    w.Key("code");
    w.Int(code);
    w.Key("message");
    WriteText(w, message);
    if (result) {
        w.Key("result");
        result(w);
    }
    w.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::string Success(const std::function<void(Writer&)>& result) { return Answer(0, "SUCCESS", result); }

// Parses a request body; false when it is not a JSON object.
bool ParseObject(const std::string& body, rapidjson::Document& doc) {
    return kit::ParseJson(body, doc) && doc.IsObject();
}

// Checks that every name is a string member of `doc`; on failure `error` is the answer.
bool HasStrings(const rapidjson::Document& doc, std::initializer_list<const char*> names, std::string& error) {
    for (const char* name : names) {
        auto it = doc.FindMember(name);
        if (it == doc.MemberEnd() || !it->value.IsString()) {
            error = Answer(400, std::string(name) + " missing or not a string");
            return false;
        }
    }
    return true;
}

std::string Text(const rapidjson::Document& doc, const char* name) {
    const rapidjson::Value& v = doc[name];
    return std::string(v.GetString(), v.GetStringLength());
}

std::string RandomId() {
    unsigned char bytes[16];
    RAND_bytes(bytes, sizeof bytes);
    return LowerHex(std::string(reinterpret_cast<char*>(bytes), sizeof bytes));
}

}  // namespace

MobileService::MobileService(const Pki& pki, const std::string& stateDir, std::function<void()> hang)
    : m_hang(std::move(hang)) {
    LoadOrCreate(stateDir + "/mobile-signer.pem", stateDir + "/mobile-signer.key", [] { return EVP_RSA_gen(2048); },
                 [&](EVP_PKEY* key) {
                     return Issue("Cloudsim Mobile Signer", key, pki.ca, pki.caKey,
                                  {{NID_basic_constraints, "critical,CA:FALSE"},
                                   {NID_key_usage, "critical,digitalSignature,nonRepudiation"},
                                   {NID_subject_key_identifier, "hash"}});
                 },
                 m_signer, m_signerKey);
}

MobileService::~MobileService() {
    X509_free(m_signer);
    EVP_PKEY_free(m_signerKey);
}

void MobileService::Mount(httplib::Server& server) {
    const std::pair<const char*, Handler> routes[] = {
        {"/generate-signSid", &MobileService::Generate}, {"/upload-digest", &MobileService::Upload},
        {"/get/status", &MobileService::Status},         {"/get-signResult", &MobileService::SignResult},
        {"/finish-sign", &MobileService::Finish},        {"/get-sealList", &MobileService::SealList},
    };
    for (const auto& route : routes) {
        std::string path = route.first;
        Handler handler = route.second;
        server.Post(kBase + path, [this, path, handler](const httplib::Request& req, httplib::Response& res) {
            Serve(path, handler, req, res);
        });
    }
}

void MobileService::Serve(const std::string& path, Handler handler, const httplib::Request& req,
                          httplib::Response& res) {
    // The client chose its credentials by its whole mobile seal URL, host included.
    AppCredential expected = MobileCredentialFor("https://" + req.get_header_value("Host") + kBase);
    std::string why;
    bool accepted = CheckAppSignature(req, expected, why);
    Forced forced{"", false};
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_requests.size() >= kKeptRequests) m_requests.erase(m_requests.begin());
        m_requests.push_back({path, req.get_header_value("x-zyk-app-nonce"), req.body, accepted});
    }
    if (!accepted) {
        res.status = 401;
        res.set_content(Answer(401, why), kJson);
        return;
    }
    if (TakeForced(path, forced)) {
        if (forced.hang) {
            m_hang();
            res.status = 504;
            return;
        }
        res.set_content(forced.answer, kJson);
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    res.set_content((this->*handler)(req.body), kJson);
}

bool MobileService::TakeForced(const std::string& path, Forced& forced) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_forced.find(path);
    if (it == m_forced.end() || it->second.empty()) return false;
    forced = it->second.front();
    it->second.pop_front();
    return true;
}

std::string MobileService::Generate(const std::string& body) {
    rapidjson::Document doc;
    std::string error;
    if (!ParseObject(body, doc)) return Answer(400, "the body is not a JSON object");
    if (!HasStrings(doc, {"bizId", "title", "signName", "docId", "customerId", "userName", "callbackUrl", "previewUrl",
                          "signIp"},
                    error))
        return error;
    std::string signSid = RandomId();
    m_sessions[signSid] = Session();
    return Success([&](Writer& w) {
        w.StartObject();
        w.Key("signSid");
        WriteText(w, signSid);
        w.EndObject();
    });
}

MobileService::Session* MobileService::Find(const std::string& body, std::string& error) {
    rapidjson::Document doc;
    if (!ParseObject(body, doc)) {
        error = Answer(400, "the body is not a JSON object");
        return nullptr;
    }
    if (!HasStrings(doc, {"signSid"}, error)) return nullptr;
    auto it = m_sessions.find(Text(doc, "signSid"));
    if (it == m_sessions.end()) {
        error = Answer(404, "signSid unknown");
        return nullptr;
    }
    return &it->second;
}

std::string MobileService::Upload(const std::string& body) {
    std::string error;
    Session* session = Find(body, error);
    if (!session) return error;
    rapidjson::Document doc;
    ParseObject(body, doc);
    if (!HasStrings(doc, {"signDigest", "fileName", "borderSign"}, error)) return error;
    std::string digest;
    if (!Base64Decode(Text(doc, "signDigest"), digest) || digest.size() != 32)
        return Answer(400, "signDigest must be the Base64 of a SHA-256 digest");
    auto seals = doc.FindMember("sealCountMap");
    if (seals == doc.MemberEnd() || !seals->value.IsObject()) return Answer(400, "sealCountMap must be an object");
    std::map<std::string, long> counts;
    for (const auto& entry : seals->value.GetObject()) {
        if (!entry.value.IsInt64()) return Answer(400, "seal counts must be integers");
        counts[std::string(entry.name.GetString(), entry.name.GetStringLength())] = entry.value.GetInt64();
    }
    if (session->finished) return Answer(410, "session finished");
    session->digest = digest;
    session->fileName = Text(doc, "fileName");
    session->seals = counts;
    session->signActionId = RandomId();
    session->polls = 0;
    session->p7.clear();
    return Success([&](Writer& w) { WriteText(w, session->signActionId); });
}

std::string MobileService::StatusOf(const Session& session) const {
    if (session.finished) return "FINISHED";
    if (!session.p7.empty()) return "SIGNED";
    return session.digest.empty() ? "CREATED" : "WAITING";
}

std::string MobileService::Status(const std::string& body) {
    std::string error;
    Session* session = Find(body, error);
    if (!session) return error;
    return Success([&](Writer& w) {
        w.StartObject();
        w.Key("status");
        WriteText(w, StatusOf(*session));
        w.EndObject();
    });
}

std::string MobileService::SignResult(const std::string& body) {
    std::string error;
    Session* session = Find(body, error);
    if (!session) return error;
    if (session->finished) return Answer(410, "session finished");
    rapidjson::Document doc;
    ParseObject(body, doc);
    if (!HasStrings(doc, {"signActionId"}, error)) return error;
    if (session->digest.empty() || Text(doc, "signActionId") != session->signActionId)
        return Answer(404, "signActionId unknown");
    ++session->polls;
    if (session->p7.empty() && m_signAfterPolls > 0 && session->polls >= m_signAfterPolls) {
        std::string der = SignDigest(session->digest, m_signer, m_signerKey);
        if (der.empty()) return Answer(500, "the phone could not sign");
        session->p7 = Base64Encode(der);
    }
    return Success([&](Writer& w) {
        w.StartObject();
        w.Key("signActionId");
        WriteText(w, session->signActionId);
        w.Key("p7SignResult");
        WriteText(w, session->p7.empty() ? "null" : session->p7);
        w.EndObject();
    });
}

std::string MobileService::Finish(const std::string& body) {
    std::string error;
    Session* session = Find(body, error);
    if (!session) return error;
    session->finished = true;
    return Status(body);
}

std::string MobileService::SealList(const std::string& body) {
    std::string error;
    Session* session = Find(body, error);
    if (!session) return error;
    return Success([&](Writer& w) {
        w.StartArray();
        for (const auto& seal : session->seals) {
            w.StartObject();
            w.Key("sealName");
            WriteText(w, seal.first);
            w.Key("count");
            w.Int64(seal.second);
            w.Key("fileName");
            WriteText(w, session->fileName);
            w.EndObject();
        }
        w.EndArray();
    });
}

bool MobileService::Control(const httplib::Request& req, httplib::Response& res) {
    if (!req.has_param("mobile")) return false;
    std::string what = req.get_param_value("mobile");
    int count = req.has_param("count") ? std::atoi(req.get_param_value("count").c_str()) : 1;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (what == "signAfter") {
        m_signAfterPolls = std::atoi(req.get_param_value("polls").c_str());
    } else if (what == "answer" || what == "hang") {
        for (int i = 0; i < count; ++i) m_forced[req.get_param_value("path")].push_back({req.body, what == "hang"});
    } else if (what == "requests") {
        res.set_content(Answer(0, "SUCCESS", [&](Writer& w) {
                            w.StartArray();
                            for (const Recorded& r : m_requests) {
                                w.StartObject();
                                w.Key("path");
                                WriteText(w, r.path);
                                w.Key("nonce");
                                WriteText(w, r.nonce);
                                w.Key("body");
                                WriteText(w, r.body);
                                w.Key("accepted");
                                w.Bool(r.accepted);
                                w.EndObject();
                            }
                            w.EndArray();
                        }),
                        kJson);
        return true;
    } else if (what == "reset") {
        m_requests.clear();
        m_forced.clear();
        m_signAfterPolls = 3;
    } else {
        res.status = 400;
        res.set_content("mobile must be signAfter, answer, hang, requests or reset\n", "text/plain");
        return true;
    }
    res.set_content("ok\n", "text/plain");
    return true;
}
