#include "certs/cert_status_rules.h"

#include <algorithm>

#include "certs/ca_trust.h"

namespace {

std::string AsciiLower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

std::string StatusAlgorithmText(CertInfo& info) { return info.getCertAlg() == "SM2" ? "SM2" : "RSA"; }

bool IsIssuedByOwnCa(CertInfo& info) { return Contains(AsciiLower(info.getIssuerCN()), "lantrove"); }

std::string LocalStatusText(CertInfo& info) {
    if (isIssuedByTamperCa(info.m_authorityKeyId, info.getIssuerCN(), StatusAlgorithmText(info)))
        return kTamperEvidenceText;
    std::string issuer = AsciiLower(info.getIssuerCN());
    if (Contains(issuer, "lantrove")) return kTestCertificateText;
    if (Contains(issuer, "sheca") && Contains(info.getCN(), "测试")) return kTestCertificateText;
    return "";
}
