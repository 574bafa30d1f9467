// `tessal verify`: a PKCS#7 signature's signers, each checked by the library and its certificate
// chain checked against the trusted CA certificates.
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <cstdio>
#include <memory>

#include "commands.h"
#include "signer_trust.h"
#include "tessal/cert_info.h"
#include "tessal/signing.h"
#include "tool_io.h"

namespace tessal_tool {
namespace {

struct Pkcs7Deleter {
    void operator()(PKCS7* p7) const { PKCS7_free(p7); }
};
using Pkcs7Ptr = std::unique_ptr<PKCS7, Pkcs7Deleter>;

Pkcs7Ptr ParsePkcs7(const std::string& der) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    return Pkcs7Ptr(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
}

// The signature with signer `index` as its only signer, so the library checks that one alone.
std::string WithOneSigner(const PKCS7* p7, int index) {
    Pkcs7Ptr copy(PKCS7_dup(const_cast<PKCS7*>(p7)));
    if (!copy) return "";
    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(copy.get());
    for (int j = sk_PKCS7_SIGNER_INFO_num(signers) - 1; j >= 0; --j)
        if (j != index) PKCS7_SIGNER_INFO_free(sk_PKCS7_SIGNER_INFO_delete(signers, j));
    unsigned char* der = nullptr;
    int n = i2d_PKCS7(copy.get(), &der);
    std::string bytes =
        n > 0 ? std::string(reinterpret_cast<char*>(der), static_cast<size_t>(n)) : "";
    OPENSSL_free(der);
    return bytes;
}

// Why the signature as a whole cannot be checked; empty when its signers can be.
std::string StructureProblem(const PKCS7* p7, bool haveContent) {
    if (!p7) return "not a DER PKCS#7 structure";
    if (!PKCS7_type_is_signed(p7)) return "not PKCS#7 signed data";
    if (PKCS7_get_detached(const_cast<PKCS7*>(p7)) && !haveContent)
        return "the signature is detached: give the signed content";
    if (sk_PKCS7_SIGNER_INFO_num(PKCS7_get_signer_info(const_cast<PKCS7*>(p7))) <= 0)
        return "the signature has no signer";
    return "";
}

enum class Verdict { Trusted, Unchecked, Untrusted, Invalid };

// Checks signer `index`; adds its certificate's names and what was found to `report`.
Verdict CheckSigner(const PKCS7* p7, int index, const std::string& der, const std::string& content,
                    const TrustStore* trust, Fields& report) {
    std::string prefix = index == 0 ? "signer" : "signer " + std::to_string(index + 1);
    PKCS7_SIGNER_INFO* info =
        sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(const_cast<PKCS7*>(p7)), index);
    STACK_OF(X509)* certs = p7->d.sign->cert;
    X509* signer = certs ? X509_find_by_issuer_and_serial(certs, info->issuer_and_serial->issuer,
                                                          info->issuer_and_serial->serial)
                         : nullptr;
    if (!signer) {
        report.emplace_back(prefix + " result", "the signer's certificate is not in the signature");
        return Verdict::Invalid;
    }
    report.emplace_back(prefix + " subject", NameText(X509_get_subject_name(signer)));
    report.emplace_back(prefix + " serial", CertInfo(signer).getSN());
    report.emplace_back(prefix + " issuer", NameText(X509_get_issuer_name(signer)));
    std::string alone = sk_PKCS7_SIGNER_INFO_num(PKCS7_get_signer_info(const_cast<PKCS7*>(p7))) == 1
                            ? der
                            : WithOneSigner(p7, index);
    if (!ZYKVerifySignData(Base64Encode(content), Base64Encode(alone), "")) {
        report.emplace_back(prefix + " result",
                            "signature not valid: it does not match the signed content");
        return Verdict::Invalid;
    }
    if (!trust) {
        report.emplace_back(prefix + " result", "signature valid, chain not checked");
        return Verdict::Unchecked;
    }
    std::string why = trust->WhyUntrusted(signer, certs);
    if (!why.empty()) {
        report.emplace_back(prefix + " result", "signature valid, signer not trusted: " + why);
        return Verdict::Untrusted;
    }
    report.emplace_back(prefix + " result", "signature valid, signer trusted");
    return Verdict::Trusted;
}

}  // namespace

int CmdVerify(const Args& a) {
    if (a.positional.size() != 2) ExpectWords(a, 1);
    if (a.Has("--no-chain") && a.Has("--CAfile"))
        throw UsageError("--no-chain checks no chain: no --CAfile");
    std::string der = ReadFile(a.positional[0]);
    bool haveContent = a.positional.size() == 2;
    std::string content = haveContent ? ReadFile(a.positional[1]) : "";
    std::unique_ptr<TrustStore> trust;
    if (!a.Has("--no-chain")) trust.reset(new TrustStore(a.Option("--CAfile")));

    Pkcs7Ptr p7 = ParsePkcs7(der);
    Fields report = {{"signature", a.positional[0]}};
    std::string problem = StructureProblem(p7.get(), haveContent);
    Verdict overall = Verdict::Invalid;
    if (problem.empty()) {
        overall = Verdict::Trusted;
        int signers = sk_PKCS7_SIGNER_INFO_num(PKCS7_get_signer_info(p7.get()));
        for (int i = 0; i < signers; ++i) {
            // Every signer counts: the worst verdict is the signature's.
            Verdict v = CheckSigner(p7.get(), i, der, content, trust.get(), report);
            if (static_cast<int>(v) > static_cast<int>(overall)) overall = v;
        }
    }
    bool good = overall == Verdict::Trusted || overall == Verdict::Unchecked;
    report.emplace_back("verified", good);
    if (!problem.empty())
        report.emplace_back("reason", problem);
    else if (overall == Verdict::Untrusted)
        report.emplace_back("reason", "signature valid, signer not trusted");
    else if (overall == Verdict::Invalid)
        report.emplace_back("reason", "a signer's signature is not valid");
    std::fputs((a.Has("--json") ? FieldsJson(report) : FieldsText(report)).c_str(), Output());
    if (good) return 0;
    return overall == Verdict::Untrusted ? kExitUntrustedSigner : 1;
}

}  // namespace tessal_tool
