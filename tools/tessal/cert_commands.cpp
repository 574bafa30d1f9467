// `tessal cert show|export`: the signing and encryption certificates of the current key.
#include <openssl/x509.h>

#include <cstdio>
#include <ctime>

#include "commands.h"
#include "kit/openssl_ptr.h"
#include "tessal/certificates.h"
#include "tool_io.h"

namespace tessal_tool {
namespace {

// The Base64 DER certificate of the chosen key, signing or (--enc) encryption.
std::string KeyCertificate(const Args& a) {
    std::string id = ChooseKey(a);
    bool enc = a.Has("--enc");
    std::string certificate;
    if (!(enc ? ZYKGetEncCertData(certificate) : ZYKGetCertData(certificate)) || certificate.empty())
        throw LibraryFailure(std::string("key ") + id + " gives no " + (enc ? "encryption" : "signing") +
                             " certificate");
    return certificate;
}

// A certificate time in ISO 8601, UTC; empty when it cannot be read.
std::string IsoTime(const ASN1_TIME* time) {
    struct tm parts {};
    char text[32];
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1 || !std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts))
        return "";
    return text;
}

Fields Describe(const std::string& certificate) {
    // The items of the library's certificate description, by number; the version and the dates
    // are typed from the certificate itself for JSON.
    static const std::pair<const char*, int> kItems[] = {
        {"subject CN", 17}, {"subject O", 14}, {"subject C", 13}, {"serial number", 2}, {"algorithm", 3},
        {"valid from", 11}, {"valid to", 12},  {"issuer CN", 8},  {"issuer O", 5},      {"issuer OU", 6},
        {"issuer C", 4},    {"issuer ST", 7},  {"issuer L", 9},   {"issuer email", 10},
    };
    std::string der = Base64Decode(certificate, "the certificate");
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    kit::OpenSslPtr<X509, X509_free> x509(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    Fields fields;
    for (const auto& item : kItems) {
        std::string text = ZYKGetCertDetail(certificate, item.second);
        if (item.second == 11 || item.second == 12)
            fields.push_back(Field::Date(
                item.first, text,
                x509 ? IsoTime(item.second == 11 ? X509_get0_notBefore(x509.get()) : X509_get0_notAfter(x509.get()))
                     : ""));
        else
            fields.emplace_back(item.first, text);
    }
    // The text keeps the library's wording ("V3"); JSON has the number.
    Field version("version", static_cast<long long>(x509 ? X509_get_version(x509.get()) + 1 : 0));
    version.text = ZYKGetCertDetail(certificate, 1);
    fields.push_back(version);
    return fields;
}

}  // namespace

int CmdCert(const Args& a) {
    const std::string verb = a.positional.empty() ? "" : a.positional[0];
    if (verb == "show") {
        ExpectWords(a, 1);
        Fields fields = Describe(KeyCertificate(a));
        std::fputs((a.Has("--json") ? FieldsJson(fields) : FieldsText(fields)).c_str(), Output());
        return 0;
    }
    if (verb == "export") {
        ExpectWords(a, 2);
        std::string der = Base64Decode(KeyCertificate(a), "the certificate");
        WriteOutput(a.positional[1], a.Has("--der") ? der : CertificatePem(der));
        return 0;
    }
    throw UsageError("cert command must be show or export");
}

}  // namespace tessal_tool
