#include "workflows/cert_manager.h"

#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <functional>
#include <vector>

#include "api/encodings.h"
#include "api/failure.h"
#include "api/last_error.h"
#include "api/log.h"
#include "devices/key_manager.h"
#include "devices/key_use.h"
#include "gmcrypto/key_objects.h"
#include "tessal/engine.h"
#include "tessal/http.h"
#include "token/skf_ukey.h"
#include "vornic/vornic.h"

namespace {

constexpr int kRequestFailed = 10;
constexpr int kNotInitialised = 25;
constexpr int kContainerExists = 30;
constexpr int kRsaKeyBits = 2048;
constexpr int kSm2KeyBits = 256;
constexpr int kCoordinateBytes = 32;
constexpr char kFirstRsaContainer[] = "CntRSA2048";

// The key the calling export holds (its frame took the current key), else the current key (a
// caller without a frame: the key set keeps it alive).
SkfUKey* CallerKey() {
    std::shared_ptr<UsbKey> key = KeyUse::ThreadKey();
    return dynamic_cast<SkfUKey*>((key ? key : UKeyManager::GetInstance().GetCurrentUKey()).get());
}

// The caller's key when it is an SKF key that can hold containers (kind 2 cannot).
SkfUKey* RequestKey() {
    auto* key = CallerKey();
    return key && key->GetUkeyType() != 2 ? key : nullptr;
}

// Removes the container a failed request left without a certificate. The sweep of empty
// containers stops at a key's SM2 certificate (58), so the request's own container, named in
// `created`, is then removed by name. The clean-up's own outcome is not the caller's: the
// message of the failure that led here stays.
void RemoveEmptyContainer(SkfUKey* key, const std::string& created = std::string()) {
    if (!key) return;
    std::string message = ZYKGetLastError();
    if (key->DeleteEmptyContainer() == 58 && !created.empty()) key->DeleteContainer(created);
    SetLastErrorMessage(message);
}

// The last `kCoordinateBytes` of a 64-byte blob field.
ByteArray Tail32(const unsigned char (&field)[ECC_MAX_XCOORDINATE_BITS_LEN / 8]) {
    return ByteArray(field + sizeof field - kCoordinateBytes, kCoordinateBytes);
}

// A new container named `name` with an SM2 key pair; fails with 58 when the key already
// carries the SM2 certificate.
CResult CreateSm2Container(SkfUKey* key, const std::string& name, ECCPUBLICKEYBLOB& blob) {
    CResult result = key->DeleteEmptyContainer();
    if (result == 58) return result;
    result = key->CreateContainer(name.c_str());
    if (result != 0) return result;
    return key->GenSM2KeyPair(kSm2KeyBits, &blob);
}

std::string Der(X509_REQ* req) {
    unsigned char* der = nullptr;
    int length = i2d_X509_REQ(req, &der);
    std::string out = length > 0 ? std::string(reinterpret_cast<char*>(der), static_cast<size_t>(length)) : "";
    OPENSSL_free(der);
    return out;
}

// The request around the key's public key, signed with SHA-256 by the key; empty on failure.
ByteArray SignedRsaRequest(const std::string& subject, const RSAPUBLICKEYBLOB& blob) {
    // A subject value longer than an int counts would be cut: refuse the request instead.
    if (subject.size() > static_cast<size_t>(INT_MAX)) return ByteArray();
    X509_REQ* req = X509_REQ_new();
    X509_NAME* name = CertManager::ParseSubject(subject);
    EVP_PKEY* pkey = KeyBackedRsaFromBlob(blob);
    std::string der;
    if (req && pkey && X509_REQ_set_version(req, 0) == 1 && (!name || X509_REQ_set_subject_name(req, name) == 1) &&
        X509_REQ_set_pubkey(req, pkey) == 1 && X509_REQ_sign(req, pkey, EVP_sha256()) > 0) {
        der = Der(req);
    } else {
        TLOG_ERROR("X509_REQ_sign fail");
        ERR_clear_error();
    }
    EVP_PKEY_free(pkey);
    X509_NAME_free(name);
    X509_REQ_free(req);
    return ByteArray(der.data(), static_cast<unsigned long>(der.size()));
}

// The complete SM2 request around the to-be-signed buffer `info`; empty when the builder fails.
ByteArray FinishSm2Request(unsigned char*& info, int32_t infoLength, const ECCSIGNATUREBLOB& signature) {
    ByteArray r = Tail32(signature.r), s = Tail32(signature.s);
    // The builder writes as many bytes as it needs: ask for the size, then give it that room.
    uint32_t length = 0;
    if (SM2ConstructP10(&info, infoLength, 0x20400, r.data(), s.data(), nullptr, &length) != 0) return ByteArray();
    std::vector<unsigned char> buffer(length);
    if (SM2ConstructP10(&info, infoLength, 0x20400, r.data(), s.data(), buffer.data(), &length) != 0)
        return ByteArray();
    return ByteArray(buffer.data(), length);
}

// The SM2 request for the public point (x, y) with the key's signature; empty when the builder
// refuses the subject.
ByteArray SignedSm2Request(SkfUKey* key, const std::string& subject, const ByteArray& x, const ByteArray& y,
                           CResult& result) {
    // The builder reads the subject in the ANSI code page; a character it cannot hold is refused
    // rather than replaced.
    std::string ansiSubject;
    if (!Utf8ToAnsiExactly(subject, ansiSubject)) {
        TLOG_ERROR("the subject does not fit the ANSI code page");
        return ByteArray();
    }
    unsigned char* info = nullptr;
    int32_t infoLength = 0;
    if (SM2ConstructP10Info(ansiSubject.c_str(), x.data(), y.data(), &info, &infoLength) != 0) {
        TLOG_ERROR("SM2ConstructP10Info fail");
        return ByteArray();
    }
    ByteArray tbs(info, static_cast<unsigned long>(infoLength));
    ECCSIGNATUREBLOB signature{};
    result = key->SM2Sign(tbs, &signature);
    // The builder releases its buffer only once it has written a request, so the request is
    // built even after a failed signature and then dropped.
    ByteArray request = FinishSm2Request(info, infoLength, signature);
    if (result != 0) return ByteArray();
    if (request.length() == 0) TLOG_ERROR("SM2ConstructP10 fail");
    return request;
}

// Steps shared by the three RSA applications: key check, request, the cloud call, clean-up.
CResult ApplyWithRsaRequest(const std::string& subject, const char* location,
                            const std::function<CResult(std::string&, const std::string&)>& apply) {
    CResult result;
    SkfUKey* key = RequestKey();
    if (!key) {
        TESSAL_FAIL(result, kNotInitialised, location);
        return result;
    }
    EnsureRsaEngineRegistered();
    std::string currentContainer, newContainer;
    ByteArray request = CertManager::GenerateRsaP10(subject, kRsaKeyBits, currentContainer, newContainer, result);
    if (result == kContainerExists) return result;
    if (result == 0 && request.length() == 0) TESSAL_FAIL(result, kRequestFailed, location);
    if (result == 0) {
        std::string p10 = Base64Encode(request);
        result = apply(p10, key->GetDeviceId());
    }
    if (result != 0) RemoveEmptyContainer(key, key->CreatedContainerName() == newContainer ? newContainer : "");
    return result;
}

}  // namespace

X509_NAME* CertManager::ParseSubject(const std::string& subject) {
    if (subject.empty()) return nullptr;
    X509_NAME* name = X509_NAME_new();
    size_t start = 0;
    while (name && start <= subject.size()) {
        size_t comma = subject.find(',', start);
        std::string piece = subject.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        size_t eq = piece.find('=');
        if (eq != std::string::npos) {
            std::string field = piece.substr(0, eq);
            std::string value = piece.substr(eq + 1, piece.find('=', eq + 1) - eq - 1);
            if (X509_NAME_add_entry_by_txt(name, field.c_str(), V_ASN1_UTF8STRING,
                                           reinterpret_cast<const unsigned char*>(value.data()),
                                           static_cast<int>(value.size()), -1, 0) != 1)
                ERR_clear_error();  // an unknown attribute adds nothing
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return name;
}

std::string CertManager::NextRsaContainerName(const std::string& openName, int bits) {
    if (openName.empty()) return "CntRSA" + std::to_string(bits) + "_0";
    if (openName == kFirstRsaContainer) return openName + "_1";
    size_t underscore = openName.rfind('_');
    std::string prefix = underscore == std::string::npos ? "" : openName.substr(0, underscore + 1);
    std::string tail = underscore == std::string::npos ? openName : openName.substr(underscore + 1);
    // Leading blanks and a sign, then the digits up to the first other character.
    size_t pos = 0;
    while (pos < tail.size() && std::isspace(static_cast<unsigned char>(tail[pos]))) ++pos;
    if (pos < tail.size() && (tail[pos] == '+' || tail[pos] == '-')) ++pos;
    if (pos >= tail.size() || !std::isdigit(static_cast<unsigned char>(tail[pos])))
        return openName + "_1";  // no number to increment: never reuse the open container's name
    long long number = std::strtoll(tail.c_str(), nullptr, 10);
    if (number == LLONG_MAX) return openName + "_1";
    return prefix + std::to_string(number + 1);
}

ByteArray CertManager::GenerateRsaP10(const std::string& subject, int bits, std::string& currentContainer,
                                      std::string& newContainer, CResult& result) {
    SkfUKey* key = RequestKey();
    if (!key) return ByteArray();
    if (key->HasOpenContainer()) {
        currentContainer = key->CreatedContainerName();
        newContainer = NextRsaContainerName(currentContainer, bits);
    } else {
        newContainer = "CntRSA" + std::to_string(bits) + "_0";
    }
    result = key->CreateContainer(newContainer.c_str());
    if (result != 0) return ByteArray();
    RSAPUBLICKEYBLOB blob{};
    result = key->GenKeyPair(kRsaKeyBits, &blob);
    if (result != 0) return ByteArray();
    return SignedRsaRequest(subject, blob);
}

ByteArray CertManager::GenerateSM2P10(const std::string& subject, int bits, CResult& result) {
    SkfUKey* key = RequestKey();
    if (!key) return ByteArray();
    ECCPUBLICKEYBLOB blob{};
    result = CreateSm2Container(key, "CntSM2" + std::to_string(bits), blob);
    if (result != 0) return ByteArray();
    return SignedSm2Request(key, subject, Tail32(blob.XCoordinate), Tail32(blob.YCoordinate), result);
}

CResult CertManager::GenerateSM2KeyPair(ByteArray& x, ByteArray& y) {
    CResult result;
    SkfUKey* key = RequestKey();
    if (!key) {
        TESSAL_FAIL(result, kNotInitialised, "CertManager::GenerateSM2KeyPair");
        return result;
    }
    ECCPUBLICKEYBLOB blob{};
    result = CreateSm2Container(key, "CntSM2" + std::to_string(kSm2KeyBits), blob);
    if (result != 0) return result;
    x = Tail32(blob.XCoordinate);
    y = Tail32(blob.YCoordinate);
    return result;
}

CResult CertManager::GenerateP10(std::string subject, ByteArray& request) {
    CResult result;
    SkfUKey* key = RequestKey();
    if (!key) {
        TESSAL_FAIL(result, kNotInitialised, "CertManager::GenerateP10");
        return result;
    }
    EnsureRsaEngineRegistered();
    request = GenerateSM2P10(subject, kSm2KeyBits, result);
    if (result == 0 && request.length() == 0) TESSAL_FAIL(result, kRequestFailed, "CertManager::GenerateP10");
    if (result != 0) RemoveEmptyContainer(key);
    return result;
}

CResult CertManager::RequestCert(std::string subject, std::string name, std::string docID, std::string telephone,
                                 std::string email, std::string validity, std::string orderId, std::string caType,
                                 std::string platformName, std::string customerId) {
    return ApplyWithRsaRequest(subject, "CertManager::RequestCert",
                               [&](std::string& p10, const std::string& deviceId) {
                                   return CHttpClient::RequestCert(p10, deviceId, name, docID, telephone, email,
                                                                   validity, orderId, caType, platformName,
                                                                   customerId);
                               });
}

CResult CertManager::PersonalRequestCert(std::string subject, std::string name, std::string docID,
                                         std::string telephone, std::string email, std::string validity,
                                         std::string orderId, std::string caType, std::string platformName,
                                         std::string customerId) {
    return ApplyWithRsaRequest(subject, "CertManager::PersonalRequestCert",
                               [&](std::string& p10, const std::string& deviceId) {
                                   return CHttpClient::PersonalRequestCert(p10, deviceId, name, docID, telephone,
                                                                           email, validity, orderId, caType,
                                                                           platformName, customerId);
                               });
}

CResult CertManager::RequestCertOnGW(const std::string& subject, std::string& name, std::string& docId,
                                     std::string& tenantType, std::string& customerId, std::string& caType,
                                     std::string& validity, std::string& orderId, std::string& contact,
                                     std::string& ukeyOrderCertId) {
    return ApplyWithRsaRequest(subject, "CertManager::RequestCertOnGW",
                               [&](std::string& p10, const std::string& deviceId) {
                                   return CHttpClient::RequestCertOnGW(p10, deviceId, name, docId, tenantType,
                                                                       customerId, caType, validity, orderId,
                                                                       contact, ukeyOrderCertId);
                               });
}

CResult CertManager::ImportCert(const std::string& containerName, const std::string& signCert, std::string encCert,
                                std::string encKey) {
    CResult result;
    auto* key = CallerKey();
    if (!key) {
        TESSAL_FAIL(result, kNotInitialised, "CertManager::ImportCert");
        return result;
    }
    // The key writes the certificate into the container holding its key pair, whatever the name.
    std::string container = containerName;
    ByteArray sign = Base64Decode(signCert);
    if (!encCert.empty() && !encKey.empty())
        result = key->ImportDoubleCertWithCntName(sign, Base64Decode(encCert), Base64Decode(encKey), container);
    else
        result = key->ImportCertWithCntName(sign, container);
    if (result != 0) TESSAL_FAIL(result, result.ErrorCode(), "CertManager::ImportCert");
    return result;
}
