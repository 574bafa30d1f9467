// Exports of the certificate request and import family.
#include "api/encodings.h"
#include "api/export_frame.h"
#include "api/failure.h"
#include "api/input_limits.h"
#include "tessal/cert_requests.h"
#include "tessal/http.h"
#include "workflows/cert_manager.h"

namespace {

std::string Subject(const std::string& name, const std::string& id) {
    return "CN=" + name + "@" + id + ",O=" + name + ",C=CN";
}

std::string NormalisedValidity(const std::string& validity) {
    return validity == "12" || validity == "24" ? validity : "24";
}

}  // namespace

bool ZYKRequestP10(std::string name, std::string org, std::string& deviceId, std::string& p10) try {
    ExportFrame frame;
    UsbKey* key = frame.PinVerifiedKey();
    if (!key) return false;
    ByteArray request;
    if (CertManager::GenerateP10("CN=" + name + ",C=CN" + ",O=" + org, request) != 0) return false;
    p10 = Base64Encode(request);
    deviceId = key->GetDeviceId();
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKRequestP10FromWEB(std::string name, std::string id, std::string& deviceId, std::string& p10,
                          std::string& currentContainer, std::string& newContainer) try {
    ExportFrame frame;
    UsbKey* key = frame.PinVerifiedKey();
    if (!key) return false;
    CResult result;
    ByteArray request = CertManager::GenerateRsaP10(Subject(name, id), 2048, currentContainer, newContainer, result);
    if (result != 0) return false;
    if (request.length() == 0) {
        TESSAL_FAIL(result, 10, "ZYKRequestP10FromWEB");
        return false;
    }
    p10 = Base64Encode(request);
    deviceId = key->GetDeviceId();
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKRequestCert(std::string name, std::string docID, std::string telephone, std::string email,
                    std::string validity, std::string orderId, std::string caType, std::string platformName,
                    std::string customerId) try {
    ExportFrame frame;
    if (!frame.PinVerifiedKey()) return false;
    return CertManager::RequestCert(Subject(name, docID), name, docID, telephone, email, NormalisedValidity(validity),
                                    orderId, caType, platformName, customerId) == 0;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKPersonalRequestCert(std::string name, std::string docID, std::string telephone, std::string email,
                            std::string validity, std::string orderId, std::string caType, std::string platformName,
                            std::string customerId) try {
    ExportFrame frame;
    if (!frame.PinVerifiedKey()) return false;
    return CertManager::PersonalRequestCert(Subject(name, docID), name, docID, telephone, email,
                                            NormalisedValidity(validity), orderId, caType, platformName,
                                            customerId) == 0;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKRequestCertOnGW(std::string& name, std::string& docId, std::string& tenantType, std::string& customerId,
                        std::string& caType, std::string& validity, std::string& orderId, std::string& contact,
                        std::string& ukeyOrderCertId) try {
    ExportFrame frame;
    if (!frame.PinVerifiedKey()) return false;
    return CertManager::RequestCertOnGW(Subject(name, docId), name, docId, tenantType, customerId, caType, validity,
                                        orderId, contact, ukeyOrderCertId) == 0;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKRequestDoubleCert(std::string name, std::string unit, std::string id, std::string orderId) try {
    ExportFrame frame;
    UsbKey* key = frame.PinVerifiedKey();
    if (!key) return false;
    std::string subject = "CN=" + name + "@" + id + ",C=CN,O=" + name;
    if (!unit.empty()) subject += ",OU=" + unit;
    ByteArray request;
    if (CertManager::GenerateP10(subject, request) != 0) return false;
    std::string p10 = Base64Encode(request);
    return CHttpClient::RequestDoubleCert(p10, key->GetDeviceId(), orderId) == 0;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKImportCertFromJava(std::string orderId, std::string sealId) try {
    ExportFrame frame;
    UsbKey* key = frame.PinVerifiedKey();
    if (!key) return false;
    std::string cert;
    if (CHttpClient::DnowLoadCert(cert, key->GetDeviceId(), orderId, sealId) != 0) return false;
    return CertManager::ImportCert("", cert, "", "") == 0;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKImportCertFromWEB(std::string certificate, std::string containerName) try {
    ExportFrame frame;
    if (!frame.PinVerifiedKey()) return false;
    return CertManager::ImportCert(containerName, certificate, "", "") == 0;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKImportCertOnGW(std::string orderId, std::string& contact, std::string& ukeyOrderCertId) try {
    ExportFrame frame;
    UsbKey* key = frame.PinVerifiedKey();
    if (!key) return false;
    std::string cert;
    if (CHttpClient::DnowLoadCertOnGW(key->GetDeviceId(), orderId, contact, ukeyOrderCertId, cert) != 0)
        return false;
    return CertManager::ImportCert("", cert, "", "") == 0;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKImportDoubleCert() try {
    ExportFrame frame;
    auto* key = dynamic_cast<SkfUKey*>(frame.PinVerifiedKey());
    if (!key) return false;
    std::string signCert, encCert, encKey;
    if (CHttpClient::DnowLoadDoubleCert(key->GetDeviceId(), signCert, encCert, encKey) != 0) return false;
    return key->ImportDoubleCert(Base64Decode(signCert), Base64Decode(encCert), Base64Decode(encKey)) == 0;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKImportDoubleCertFromWEB(std::string signCert, std::string encCert, std::string encKey,
                                std::string containerName) try {
    ExportFrame frame;
    if (!frame.PinVerifiedKey()) return false;
    return CertManager::ImportCert(containerName, signCert, encCert, encKey) == 0;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKImportSM2DoubleCert(std::string& signCert, std::string& encCert, std::string& encKey) try {
    ExportFrame frame;
    auto* key = dynamic_cast<SkfUKey*>(frame.PinVerifiedKey());
    if (!key) return false;
    ByteArray enc = Base64Decode(encCert);
    if (key->ImportDoubleCert(Base64Decode(signCert), enc, Base64Decode(encKey)) != 0) return false;
    encCert = Base64Encode(enc);
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKClearUkeyCnt(std::string& containerName) try {
    ExportFrame frame;
    auto* key = dynamic_cast<SkfUKey*>(frame.OwnMiddlewareKey());
    if (!key || key->DeleteContainer(containerName) != 0) return false;
    frame.ReleaseKey();  // the set is rebuilt without this call's key
    frame.Manager().RebuildKeySet();
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}
