// What the status exports answer about a certificate without asking the cloud.
#pragma once

#include <string>

#include "tessal/cert_info.h"

constexpr char kTamperEvidenceText[] = "【防篡改证书】";
constexpr char kTestCertificateText[] = "【测试证书】";
// Validity the status export reports for certificates of the maker's own CA.
constexpr int kOwnCaValidity = 5;

// "SM2" when the certificate algorithm text is exactly "SM2", otherwise "RSA".
std::string StatusAlgorithmText(CertInfo& info);

// Whether the issuer common name, in lower case, contains "lantrove" (the maker's own CA).
bool IsIssuedByOwnCa(CertInfo& info);

// "【防篡改证书】" for certificates of the tamper-evidence CA of their algorithm, "【测试证书】"
// for test certificates (the maker's own CA; an SHECA issuer with "测试" in the subject name);
// empty when only the cloud can tell.
std::string LocalStatusText(CertInfo& info);
