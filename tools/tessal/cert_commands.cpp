// `tessal cert show|export`: the signing and encryption certificates of the current key.
#include <cstdio>

#include "tessal/certificates.h"
#include "commands.h"
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

Fields Describe(const std::string& certificate) {
    // The items of the library's certificate description, by number.
    static const std::pair<const char*, int> kItems[] = {
        {"subject CN", 17}, {"subject O", 14}, {"subject C", 13},  {"serial number", 2}, {"algorithm", 3},
        {"valid from", 11}, {"valid to", 12},  {"issuer CN", 8},   {"issuer O", 5},      {"issuer OU", 6},
        {"issuer C", 4},    {"issuer ST", 7},  {"issuer L", 9},    {"issuer email", 10}, {"version", 1},
    };
    Fields fields;
    for (const auto& item : kItems) fields.emplace_back(item.first, ZYKGetCertDetail(certificate, item.second));
    return fields;
}

}  // namespace

int CmdCert(const Args& a) {
    const std::string verb = a.positional.empty() ? "" : a.positional[0];
    if (verb == "show") {
        if (a.positional.size() != 1) throw UsageError("usage: tessal cert show [--enc] [--json] [--key ID]");
        Fields fields = Describe(KeyCertificate(a));
        std::fputs((a.Has("--json") ? FieldsJson(fields) : FieldsText(fields)).c_str(), Output());
        return 0;
    }
    if (verb == "export") {
        if (a.positional.size() != 2)
            throw UsageError("usage: tessal cert export [--enc] [--der] [--key ID] (FILE|-)");
        std::string der = Base64Decode(KeyCertificate(a), "the certificate");
        WriteOutput(a.positional[1], a.Has("--der") ? der : CertificatePem(der));
        return 0;
    }
    throw UsageError("cert command must be show or export");
}

}  // namespace tessal_tool
