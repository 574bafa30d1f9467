#include "status_service.h"

#include <dirent.h>
#include <openssl/pem.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "app_auth.h"
#include "kit/json_parse.h"

namespace {

const char kStatusPath[] = "/cert/ukey/app/check/cert/validity";

using CertList = std::vector<std::unique_ptr<X509, decltype(&X509_free)>>;

// SM2 signatures in the chain are made with the customary user identifier.
void UseSm2Identifier(X509* cert) {
    if (X509_get_signature_nid(cert) != NID_SM2_with_SM3) return;
    ASN1_OCTET_STRING* id = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(id, reinterpret_cast<const unsigned char*>("1234567812345678"), 16);
    X509_set0_distinguishing_id(cert, id);
}

void AddPemCertificates(BIO* bio, CertList& into) {
    while (X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
        UseSm2Identifier(cert);
        into.emplace_back(cert, X509_free);
    }
}

// Every certificate of the PEM files in `dir`.
CertList LoadDirectory(const std::string& dir) {
    CertList certs;
    DIR* d = opendir(dir.c_str());
    if (!d) return certs;
    while (dirent* entry = readdir(d)) {
        if (entry->d_name[0] == '.') continue;
        BIO* bio = BIO_new_file((dir + "/" + entry->d_name).c_str(), "r");
        if (!bio) continue;
        AddPemCertificates(bio, certs);
        BIO_free(bio);
    }
    closedir(d);
    return certs;
}

// A certificate as PEM or as Base64 of its DER encoding; null when it is neither.
X509* ReadCertificate(const std::string& text) {
    X509* cert = nullptr;
    if (text.find("-----BEGIN") != std::string::npos) {
        BIO* bio = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
        cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
    } else {
        std::string clean;
        for (char c : text)
            if (!std::isspace(static_cast<unsigned char>(c))) clean += c;
        if (clean.empty() || clean.size() % 4 != 0) return nullptr;
        std::string der(clean.size() / 4 * 3, '\0');
        int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&der[0]),
                                reinterpret_cast<const unsigned char*>(clean.data()),
                                static_cast<int>(clean.size()));
        if (n < 0) return nullptr;
        const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
        cert = d2i_X509(nullptr, &p, n);
    }
    if (cert) UseSm2Identifier(cert);
    return cert;
}

// True when `cert` chains to one of `trusted` (through `untrusted`); time is not checked.
bool Chains(X509* cert, const CertList& trusted, const CertList& untrusted, bool partialChain) {
    X509_STORE* store = X509_STORE_new();
    for (const auto& c : trusted) X509_STORE_add_cert(store, c.get());
    STACK_OF(X509)* chain = sk_X509_new_null();
    for (const auto& c : untrusted) sk_X509_push(chain, c.get());
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    bool ok = false;
    if (ctx && X509_STORE_CTX_init(ctx, store, cert, chain) == 1) {
        X509_STORE_CTX_set_flags(
            ctx, X509_V_FLAG_NO_CHECK_TIME | (partialChain ? X509_V_FLAG_PARTIAL_CHAIN : 0));
        ok = X509_verify_cert(ctx) == 1;
    }
    X509_STORE_CTX_free(ctx);
    sk_X509_free(chain);
    X509_STORE_free(store);
    return ok;
}

CertList::value_type Copy(X509* cert) {
    X509_up_ref(cert);
    return CertList::value_type(cert, X509_free);
}

std::string Json(const std::function<void(rapidjson::Writer<rapidjson::StringBuffer>&)>& body) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    body(w);
    return std::string(buffer.GetString(), buffer.GetSize());
}

// The member's text, or "" when `object` has no such string member.
std::string TextMember(const rapidjson::Value& object, const char* name) {
    if (!object.IsObject()) return "";
    auto it = object.FindMember(name);
    if (it == object.MemberEnd() || !it->value.IsString()) return "";
    return std::string(it->value.GetString(), it->value.GetStringLength());
}

std::string ErrorAnswer(int code, const std::string& message) {
    return Json([&](rapidjson::Writer<rapidjson::StringBuffer>& w) {
        w.StartObject();
        w.Key("code");
        w.Int(code);
        w.Key("message");
        w.String(message.c_str());
        w.EndObject();
    });
}

}  // namespace

StatusService::StatusService(const Pki& pki, const std::string& stateDir)
    : m_trustDir(stateDir + "/trust"), m_records(stateDir) {
    mkdir(m_trustDir.c_str(), 0700);
    AddOwnCa(pki.ca);
}

StatusService::~StatusService() {
    for (X509* ca : m_ownCas) X509_free(ca);
}

void StatusService::AddOwnCa(X509* ca) {
    X509_up_ref(ca);
    m_ownCas.push_back(ca);
}

bool StatusService::SignedByOwnCa(X509* cert) const {
    for (X509* ca : m_ownCas)
        if (X509_verify(cert, X509_get0_pubkey(ca)) == 1) return true;
    return false;
}

void StatusService::Mount(httplib::Server& server) {
    server.Post(kStatusPath,
                [this](const httplib::Request& req, httplib::Response& res) { Serve(req, res); });
}

void StatusService::Serve(const httplib::Request& req, httplib::Response& res) {
    AppCredential expected = GatewayCredentialFor(req.get_header_value("Host"));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_secretOverride.empty()) expected.secret = m_secretOverride;
    }
    std::string why;
    if (!CheckAppSignature(req, expected, why)) {
        res.status = 401;
        res.set_content(ErrorAnswer(401, why), "application/json");
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lastRequest = req.body;
    }
    std::string answer;
    int httpStatus = 200;
    if (!TakeForcedAnswer(answer)) answer = Answer(req.body, httpStatus);
    res.status = httpStatus;
    res.set_content(answer, "application/json");
}

bool StatusService::TakeForcedAnswer(std::string& answer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_forcedRemaining <= 0) return false;
    --m_forcedRemaining;
    answer = m_forcedAnswer;
    return true;
}

std::string StatusService::Answer(const std::string& body, int& httpStatus) {
    rapidjson::Document request;
    const rapidjson::Value* list = nullptr;
    if (kit::ParseJson(body, request) && request.IsObject()) {
        auto it = request.FindMember("validityRequestList");
        if (it != request.MemberEnd() && it->value.IsArray()) list = &it->value;
    }
    if (!list) {
        httpStatus = 400;
        return ErrorAnswer(400, "bad status request");
    }
    std::vector<Verdict> verdicts;
    for (const rapidjson::Value& item : list->GetArray()) {
        std::string certText = TextMember(item, "certBase64");
        if (certText.empty()) {
            httpStatus = 400;
            return ErrorAnswer(400, "certBase64 missing");
        }
        std::unique_ptr<X509, decltype(&X509_free)> cert(ReadCertificate(certText), X509_free);
        if (!cert) return ErrorAnswer(1001, "certificate cannot be read");
        verdicts.push_back(Check(cert.get(), TextMember(item, "serialNo")));
    }
    return Json([&](rapidjson::Writer<rapidjson::StringBuffer>& w) {
        w.StartObject();
        w.Key("code");
        w.Int(0);
        w.Key("message");
        w.String("SUCCESS");
        w.Key("result");
        w.StartArray();
        for (const Verdict& v : verdicts) {
            w.StartObject();
            w.Key("serialNo");
            w.String(v.serialNo.data(), static_cast<rapidjson::SizeType>(v.serialNo.size()));
            w.Key("zykChannelIssue");
            w.Bool(v.issued);
            w.Key("trustCaIssue");
            w.Bool(v.trustCaIssue);
            w.Key("existRootCert");
            w.Bool(v.existRootCert);
            w.Key("certCurrentStatus");
            w.String(v.status.c_str());
            w.Key("detailMessage");
            w.String(v.detail.c_str());
            w.EndObject();
        }
        w.EndArray();
        w.EndObject();
    });
}

StatusService::Verdict StatusService::Check(X509* cert, const std::string& serialNo) {
    CertList trustDir = LoadDirectory(m_trustDir);
    bool trustCaIssue = Chains(cert, trustDir, {}, true);
    CertList roots, intermediates;
    for (X509* ca : m_ownCas) roots.push_back(Copy(ca));
    for (const auto& c : trustDir)
        (X509_self_signed(c.get(), 0) == 1 ? roots : intermediates).push_back(Copy(c.get()));
    bool existRootCert = Chains(cert, roots, intermediates, false);
    bool issued = m_records.IsIssued(cert);

    std::string status = "UNKNOWN", detail = "证书状态未知";
    if (m_records.IsRevoked(cert))
        status = "REVOKE", detail = "证书已吊销";
    else if (issued)
        status = "NORMAL", detail = "证书状态正常";
    else if (!trustCaIssue)
        detail = "证书不是由可信CA签发";
    else if (!existRootCert)
        detail = "根证书不存在";

    return {serialNo, issued, trustCaIssue, existRootCert, status, detail};
}

bool StatusService::Control(const httplib::Request& req, httplib::Response& res) {
    if (!req.has_param("status")) return false;
    std::string what = req.get_param_value("status");
    if (what == "answer") {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_forcedAnswer = req.body;
        m_forcedRemaining =
            req.has_param("count") ? std::atoi(req.get_param_value("count").c_str()) : 1;
    } else if (what == "last") {
        std::lock_guard<std::mutex> lock(m_mutex);
        res.set_content(m_lastRequest, "application/json");
        return true;
    } else if (what == "secret") {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_secretOverride = req.get_param_value("value");
    } else if (what == "register" || what == "revoke") {
        std::unique_ptr<X509, decltype(&X509_free)> cert(ReadCertificate(req.body), X509_free);
        if (!cert) {
            res.status = 400;
            res.set_content("the body must be a certificate (PEM or Base64 DER)\n", "text/plain");
            return true;
        }
        if (what == "register" && !SignedByOwnCa(cert.get())) {
            res.status = 400;
            res.set_content("the certificate was not issued by the simulator's CAs\n",
                            "text/plain");
            return true;
        }
        if (what == "register")
            m_records.RecordIssued(cert.get());
        else
            m_records.RecordRevoked(cert.get());
    } else {
        res.status = 400;
        res.set_content("status must be answer, last, secret, register or revoke\n", "text/plain");
        return true;
    }
    res.set_content("ok\n", "text/plain");
    return true;
}
