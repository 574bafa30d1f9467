// Exports of the certificate reading family.
#include <stdexcept>

#include "api/encodings.h"
#include "api/export_frame.h"
#include "api/input_limits.h"
#include "tessal/cert_info.h"
#include "tessal/certificates.h"

bool ZYKGetCertData(std::string& certificate) try {
    ExportFrame frame;
    auto* key = dynamic_cast<SkfUKey*>(frame.Key());
    if (!key || key->GetCertData() != 0) return false;
    certificate = CertInfo(key->GetSignCert()).getCertBase64Data();
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKGetEncCertData(std::string& certificate) try {
    ExportFrame frame;
    auto* key = dynamic_cast<SkfUKey*>(frame.Key());
    if (!key) return false;
    Base64Decode(certificate);  // read as the interface has it, not used
    ByteArray der;
    if (key->GetEncCertData(der) != 0) return false;
    certificate = Base64Encode(der);
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKGetCertInfo(std::string& deviceId, std::string& subjectCN, std::string& subjectC, std::string& subjectO,
                    std::string& serialNumber, std::string& validStart, std::string& validEnd,
                    std::string& algorithm, std::string& issuerCN, std::string& issuerC, std::string& issuerL,
                    std::string& issuerST, std::string& issuerO, std::string& issuerOU, std::string& issuerEmail,
                    std::string, std::string) try {
    ExportFrame frame;
    auto* key = dynamic_cast<SkfUKey*>(frame.Key());
    if (!key || key->GetCertData() != 0) return false;
    CertInfo info(key->GetSignCert());
    deviceId = key->GetDeviceId();
    subjectCN = info.m_subjectCN;
    subjectC = info.m_subjectC;
    subjectO = info.m_subjectO;
    serialNumber = info.m_serialNumber;
    validStart = info.m_validStart;
    validEnd = info.m_validEnd;
    algorithm = info.m_certAlg;
    issuerCN = info.m_issuerCN;
    issuerC = info.m_issuerC;
    issuerL = info.m_issuerL;
    issuerST = info.m_issuerST;
    issuerO = info.m_issuerO;
    issuerOU = info.m_issuerOU;
    issuerEmail = info.m_issuerEmail;
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

std::string ZYKGetCertDetail(const std::string& certificate, int item) try {
    if (!Base64InputFits(certificate)) return std::string();
    CertInfo info(Base64Decode(certificate));
    return info.getCertItem(item);
} catch (const std::out_of_range&) {
    throw;  // an item outside 1 to 14 and 17, as the interface states
} catch (const std::exception& e) {
    return ExportFailure(e, std::string());
}
