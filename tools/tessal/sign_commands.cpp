// `tessal sign`: PKCS#7 and SM2 seal signatures with the current key.
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <cstdio>

#include "commands.h"
#include "tessal/result.h"
#include "tessal/signing.h"
#include "tool_io.h"

namespace tessal_tool {
namespace {

// Whether the DER PKCS#7 carries a time-stamp token on a signer.
bool HasTimeStamp(const std::string& der) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
    bool found = false;
    if (p7 && PKCS7_type_is_signed(p7)) {
        STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(p7);
        for (int i = 0; i < sk_PKCS7_SIGNER_INFO_num(signers) && !found; ++i)
            found = PKCS7_get_attribute(sk_PKCS7_SIGNER_INFO_value(signers, i), NID_id_smime_aa_timeStampToken);
    }
    PKCS7_free(p7);
    return found;
}

}  // namespace

int CmdSign(const Args& a) {
    ExpectWords(a, 2);
    if (a.Has("--seal") && (a.Has("--detached") || a.Has("--require-time-stamp")))
        throw UsageError("--seal makes a bare SM2 signature: no --detached, no time-stamp");
    const std::string& input = a.positional[0];
    const std::string& output = a.positional[1];
    std::string data = ReadFile(input);
    std::string id = ChooseKey(a);
    VerifyPin(a, id);

    std::string signature;
    Fields report = {{"key", id}, {"input", input}, {"output", output}};
    if (a.Has("--seal")) {
        if (!ZYKSignSeal(Base64Encode(data), signature)) throw LibraryFailure("signing failed");
        report.emplace_back("signature", "SM2 seal signature");
    } else {
        bool detached = a.Has("--detached");
        if (!ZYKSignP7(Base64Encode(data), signature, detached ? 1 : 0)) throw LibraryFailure("signing failed");
        report.emplace_back("signature", detached ? "PKCS#7 detached" : "PKCS#7 attached");
    }
    std::string der = Base64Decode(signature, "the signature");
    if (!a.Has("--seal")) {
        bool stamped = HasTimeStamp(der);
        report.emplace_back("time-stamp", stamped);
        if (a.Has("--require-time-stamp") && !stamped)
            throw std::runtime_error("the time service gave no time-stamp; nothing written");
    }
    WriteOutput(output, der);
    // With the signature on standard output, the report goes to standard error.
    std::string text = a.Has("--json") ? FieldsJson(report) : FieldsText(report);
    std::fputs(text.c_str(), output == "-" ? stderr : Output());
    return 0;
}

}  // namespace tessal_tool
