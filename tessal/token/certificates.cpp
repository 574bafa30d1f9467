// Containers, key pairs and certificates on the key.
#include <openssl/x509.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <vector>

#include "api/failure.h"
#include "api/log.h"
#include "tessal/cert_info.h"
#include "token/certificate_keys.h"
#include "token/skf_ukey.h"

namespace {

constexpr ULONG kCertBufferSize = 10240;
constexpr char kSm2RequestContainer[] = "CntSM2256";
constexpr int kImportFailed = 29;
// Room for the largest public-key blob a driver exports: RSA with a 4096-bit modulus field.
constexpr size_t kPublicKeyBlobRoom =
    2 * sizeof(ULONG) + 2 * MAX_RSA_MODULUS_LEN + MAX_RSA_EXPONENT_LEN;
// The enveloped key's fixed part: everything up to the cipher bytes of its ECC cipher blob.
constexpr size_t kEnvelopeCipherOffset = offsetof(ENVELOPEDKEYBLOB, ECCCipherBlob);
constexpr size_t kEnvelopeHeaderBytes = kEnvelopeCipherOffset + ECC_CIPHER_HEADER_LEN;

char* Text(const std::string& s) { return const_cast<char*>(s.c_str()); }

CertificatePtr Certificate(const ByteArray& der) {
    CertificatePtr cert = ParseCertificateExactly(der.data(), der.length());
    if (!cert) TLOG_ERROR("the certificate to import is not a DER X.509 certificate");
    return cert;
}

// Whether the envelope holds its fixed part and the CipherLen cipher bytes the driver reads
// after it, and carries the public key of the encryption certificate.
bool EnvelopeFits(const ByteArray& envelope, X509* encCert) {
    size_t length = envelope.data() ? static_cast<size_t>(envelope.length()) : 0;
    bool whole = length >= kEnvelopeHeaderBytes;
    if (whole) {
        ULONG cipherLength = 0;
        std::memcpy(&cipherLength,
                    envelope.data() + kEnvelopeCipherOffset + offsetof(ECCCIPHERBLOB, CipherLen),
                    sizeof cipherLength);
        whole = cipherLength <= length - kEnvelopeHeaderBytes;
    }
    if (!whole) {
        TLOG_ERROR("the enveloped key is shorter than its header and cipher length");
        return false;
    }
    if (!CertificateHasKey(encCert, envelope.data() + offsetof(ENVELOPEDKEYBLOB, PubKey),
                           sizeof(ECCPUBLICKEYBLOB))) {
        TLOG_ERROR("the encryption certificate is not for the enveloped key");
        return false;
    }
    return true;
}

}  // namespace

CResult SkfUKey::EnsureContainerOpen(int openFailure, const char* function) {
    CResult result;
    if (m_hContainer) return result;
    ULONG rc = SAR_OK;
    std::vector<std::string> names = ListContainers(rc);
    if (rc != SAR_OK) {
        TESSAL_FAIL(result, 16, function);
        return result;
    }
    std::string first = names.empty() ? std::string() : names.front();
    if (m_skf.SKF_OpenContainer(m_hApp, Text(first), &m_hContainer) != SAR_OK) {
        m_hContainer = nullptr;
        TESSAL_FAIL(result, openFailure, function);
    }
    return result;
}

void SkfUKey::CloseContainerHandle() {
    if (!m_hContainer) return;
    if (m_skf.SKF_CloseContainer) m_skf.SKF_CloseContainer(m_hContainer);
    m_hContainer = nullptr;
}

CResult SkfUKey::OpenNamedContainer(std::string& name, const char* function) {
    CResult result;
    CloseContainerHandle();
    if (name.empty()) {
        ULONG rc = SAR_OK;
        std::vector<std::string> names = ListContainers(rc);
        if (rc != SAR_OK) {
            TESSAL_FAIL(result, 16, function);
            return result;
        }
        std::string first = names.empty() ? std::string() : names.front();
        HCONTAINER probe = nullptr;
        if (m_skf.SKF_OpenContainer(m_hApp, Text(first), &probe) != SAR_OK) {
            TESSAL_FAIL(result, 15, function);
            return result;
        }
        m_skf.SKF_CloseContainer(probe);
        name = first;
    }
    if (m_skf.SKF_OpenContainer(m_hApp, Text(name), &m_hContainer) != SAR_OK) {
        m_hContainer = nullptr;
        TESSAL_FAIL(result, 15, function);
    }
    return result;
}

bool SkfUKey::ContainerHasKeyOf(HCONTAINER container, BOOL signKey, X509* cert) {
    std::vector<unsigned char> blob(kPublicKeyBlobRoom);
    ULONG length = static_cast<ULONG>(blob.size());
    if (!container || m_skf.SKF_ExportPublicKey(container, signKey, blob.data(), &length) != SAR_OK)
        return false;
    return CertificateHasKey(cert, blob.data(), std::min<size_t>(length, blob.size()));
}

CResult SkfUKey::OpenContainerWithKeyOf(X509* cert, std::string& name, const char* function) {
    CResult result;
    ULONG rc = SAR_OK;
    std::vector<std::string> names = ListContainers(rc);
    if (rc != SAR_OK) {
        TESSAL_FAIL(result, 16, function);
        return result;
    }
    // The container in use stays in use unless another one is found.
    for (const std::string& candidate : names) {
        HCONTAINER container = nullptr;
        if (m_skf.SKF_OpenContainer(m_hApp, Text(candidate), &container) != SAR_OK) continue;
        if (ContainerHasKeyOf(container, TRUE, cert)) {
            CloseContainerHandle();
            m_hContainer = container;
            name = candidate;
            return result;
        }
        m_skf.SKF_CloseContainer(container);
    }
    TLOG_ERROR("no container holds the key pair of the certificate to import");
    TESSAL_FAIL(result, kImportFailed, function);
    return result;
}

CResult SkfUKey::OpenContainerForSignCert(X509* cert, std::string& name, const char* function) {
    if (!name.empty()) {
        CResult result = OpenNamedContainer(name, function);
        if (result != 0 || ContainerHasKeyOf(m_hContainer, TRUE, cert)) return result;
    }
    return OpenContainerWithKeyOf(cert, name, function);
}

CResult SkfUKey::GetCertData() {
    CResult result;
    if (!m_opened) {
        TESSAL_FAIL(result, 25, "SkfUKey::GetCertData");
        return result;
    }
    std::vector<unsigned char> buffer(kCertBufferSize);
    for (const std::string& name : m_containerNames) {
        CloseContainerHandle();
        if (m_skf.SKF_OpenContainer(m_hApp, Text(name), &m_hContainer) != SAR_OK) {
            m_hContainer = nullptr;
            continue;
        }
        ULONG length = kCertBufferSize;
        ULONG rc = m_skf.SKF_ExportCertificate(m_hContainer, TRUE, buffer.data(), &length);
        if (rc == SAR_OK) {
            // The certificate and what is parsed from it are replaced together.
            ForgetSignCert();
            const unsigned char* p = buffer.data();
            m_signCert =
                d2i_X509(nullptr, &p, static_cast<long>(std::min(length, kCertBufferSize)));
            break;
        }
        TLOG_ERROR("SKF_ExportCertificate fail,error is:" << std::hex << rc);
        CloseContainerHandle();
    }
    if (!m_signCert) {
        TESSAL_FAIL(result, 57, "SkfUKey::GetCertData");
        return result;
    }
    if (!m_signCertInfo) m_signCertInfo = new CertInfo(m_signCert);
    m_isSM2 = m_signCertInfo->getCertAlg() == "SM2" ? 1 : 0;
    m_issuerCN = m_signCertInfo->getIssuerCN();
    return result;
}

std::string SkfUKey::GetIssuerCN() {
    if (GetCertData() != 0) return std::string();
    return m_issuerCN;
}

CResult SkfUKey::GetEncCertData(ByteArray& out) {
    CResult result;
    if (!m_opened) {
        TESSAL_FAIL(result, 25, "SkfUKey::GetEncCertData");
        return result;
    }
    result = EnsureContainerOpen(15, "SkfUKey::GetEncCertData");
    if (result != 0) return result;
    std::vector<unsigned char> buffer(kCertBufferSize);
    ULONG length = kCertBufferSize;
    if (m_skf.SKF_ExportCertificate(m_hContainer, FALSE, buffer.data(), &length) != SAR_OK) {
        TESSAL_FAIL(result, 29, "SkfUKey::GetEncCertData");
        return result;
    }
    out = ByteArray(buffer.data(), static_cast<unsigned long>(std::min(length, kCertBufferSize)));
    return result;
}

CResult SkfUKey::CreateContainer(const char* name) {
    CResult result;
    if (!m_opened) {
        TESSAL_FAIL(result, 25, "SkfUKey::CreateContainer");
        return result;
    }
    std::string containerName = name ? name : "";
    CloseContainerHandle();
    if (m_skf.SKF_OpenContainer(m_hApp, Text(containerName), &m_hContainer) == SAR_OK) {
        TESSAL_FAIL(result, 30, "SkfUKey::CreateContainer");
        return result;
    }
    m_hContainer = nullptr;
    if (m_skf.SKF_CreateContainer(m_hApp, Text(containerName), &m_hContainer) != SAR_OK) {
        m_hContainer = nullptr;
        TESSAL_FAIL(result, 9, "SkfUKey::CreateContainer");
        return result;
    }
    m_containerName = containerName;
    ContainersChanged();
    return result;
}

CResult SkfUKey::DeleteContainer(const std::string& name) {
    CResult result;
    if (!m_opened) {
        TESSAL_FAIL(result, 25, "SkfUKey::DeleteContainer");
        return result;
    }
    ULONG rc = SAR_OK;
    ListContainers(rc);
    if (rc != SAR_OK) {
        TESSAL_FAIL(result, 16, "SkfUKey::DeleteContainer");
        return result;
    }
    if (m_skf.SKF_DeleteContainer(m_hApp, Text(name)) != SAR_OK) {
        TESSAL_FAIL(result, 28, "SkfUKey::DeleteContainer");
        return result;
    }
    ContainersChanged();
    return result;
}

CResult SkfUKey::DeleteEmptyContainer() {
    CResult result;
    if (!m_opened) {
        TESSAL_FAIL(result, 25, "SkfUKey::DeleteEmptyContainer");
        return result;
    }
    ULONG rc = SAR_OK;
    std::vector<std::string> names = ListContainers(rc);
    if (rc != SAR_OK) {
        TESSAL_FAIL(result, 16, "SkfUKey::DeleteEmptyContainer");
        return result;
    }
    std::vector<unsigned char> buffer(kCertBufferSize);
    for (const std::string& name : names) {
        CloseContainerHandle();
        if (m_skf.SKF_OpenContainer(m_hApp, Text(name), &m_hContainer) != SAR_OK) {
            m_hContainer = nullptr;
            TESSAL_FAIL(result, 28, "SkfUKey::DeleteEmptyContainer");
            return result;
        }
        ULONG length = kCertBufferSize;
        if (m_skf.SKF_ExportCertificate(m_hContainer, TRUE, buffer.data(), &length) == SAR_OK) {
            if (name == kSm2RequestContainer) {
                TESSAL_FAIL(result, 58, "SkfUKey::DeleteEmptyContainer");
                return result;
            }
            continue;  // keep it open and go on
        }
        ULONG closed = m_skf.SKF_CloseContainer(m_hContainer);
        m_hContainer = nullptr;
        if (closed != SAR_OK || m_skf.SKF_DeleteContainer(m_hApp, Text(name)) != SAR_OK) {
            TESSAL_FAIL(result, 28, "SkfUKey::DeleteEmptyContainer");
            return result;
        }
        ContainersChanged();
    }
    return result;
}

CResult SkfUKey::GenKeyPair(int bits, RSAPUBLICKEYBLOB* pub) {
    CResult result;
    if (bits != 1024 && bits != 2048 && bits != 4096) {
        TESSAL_FAIL(result, 4, "SkfUKey::GenKeyPair");
        return result;
    }
    if (m_skf.SKF_GenRSAKeyPair(m_hContainer, static_cast<ULONG>(bits), pub) != SAR_OK) {
        TESSAL_FAIL(result, 2, "SkfUKey::GenKeyPair");
        return result;
    }
    return result;
}

CResult SkfUKey::GenSM2KeyPair(int bits, ECCPUBLICKEYBLOB* pub) {
    CResult result;
    if (bits != 256) {
        TESSAL_FAIL(result, 4, "SkfUKey::GenSM2KeyPair");
        return result;
    }
    if (m_skf.SKF_GenECCKeyPair(m_hContainer, SGD_SM2_1, pub) != SAR_OK) {
        TESSAL_FAIL(result, 2, "SkfUKey::GenSM2KeyPair");
        return result;
    }
    return result;
}

CResult SkfUKey::ImportCertWithCntName(ByteArray cert, std::string& containerName) {
    CResult result;
    if (!m_opened) {
        TESSAL_FAIL(result, 25, "SkfUKey::ImportCertWithCntName");
        return result;
    }
    CertificatePtr parsed = Certificate(cert);
    if (!parsed) {
        TESSAL_FAIL(result, kImportFailed, "SkfUKey::ImportCertWithCntName");
        return result;
    }
    result =
        OpenContainerForSignCert(parsed.get(), containerName, "SkfUKey::ImportCertWithCntName");
    if (result != 0) return result;
    ULONG rc = m_skf.SKF_ImportCertificate(m_hContainer, TRUE, const_cast<BYTE*>(cert.data()),
                                           static_cast<ULONG>(cert.length()));
    ContainersChanged();
    if (rc != SAR_OK) TESSAL_FAIL(result, 3, "SkfUKey::ImportCertWithCntName");
    return result;
}

// The three writes of a double import: signing certificate (failing with `signFailure`), the
// encryption key pair, then the encryption certificate; when `encCertificate` is given, that is
// written only when it is for the key pair the container now holds.
CResult SkfUKey::ImportCertificatesAndKey(ByteArray& signCert, ByteArray& encCert,
                                          X509* encCertificate, int signFailure,
                                          const std::function<bool()>& importKeyPair,
                                          const char* function) {
    CResult result = WriteCertificatesAndKey(signCert, encCert, encCertificate, signFailure,
                                             importKeyPair, function);
    // Whatever was written, even in part, is what the key holds from now on.
    ContainersChanged();
    return result;
}

CResult SkfUKey::WriteCertificatesAndKey(ByteArray& signCert, ByteArray& encCert,
                                         X509* encCertificate, int signFailure,
                                         const std::function<bool()>& importKeyPair,
                                         const char* function) {
    CResult result;
    if (m_skf.SKF_ImportCertificate(m_hContainer, TRUE, const_cast<BYTE*>(signCert.data()),
                                    static_cast<ULONG>(signCert.length())) != SAR_OK) {
        TESSAL_FAIL(result, signFailure, function);
        return result;
    }
    if (!importKeyPair()) {
        TESSAL_FAIL(result, 48, function);
        return result;
    }
    if (encCertificate && !ContainerHasKeyOf(m_hContainer, FALSE, encCertificate)) {
        TLOG_ERROR("the encryption certificate is not for the imported key pair");
        TESSAL_FAIL(result, kImportFailed, function);
        return result;
    }
    if (m_skf.SKF_ImportCertificate(m_hContainer, FALSE, const_cast<BYTE*>(encCert.data()),
                                    static_cast<ULONG>(encCert.length())) != SAR_OK) {
        TESSAL_FAIL(result, 49, function);
        return result;
    }
    return result;
}

CResult SkfUKey::ImportDoubleCert(ByteArray signCert, ByteArray encCert, ByteArray envelopedKey) {
    CResult result;
    if (!m_opened) {
        TESSAL_FAIL(result, 25, "SkfUKey::ImportDoubleCert");
        return result;
    }
    // Everything is checked before the first write: both certificates, the envelope's bounds, the
    // envelope's public key against the encryption certificate, the container's signing key.
    CertificatePtr sign = Certificate(signCert), enc = Certificate(encCert);
    if (!sign || !enc || !EnvelopeFits(envelopedKey, enc.get())) {
        TESSAL_FAIL(result, kImportFailed, "SkfUKey::ImportDoubleCert");
        return result;
    }
    if (!ContainerHasKeyOf(m_hContainer, TRUE, sign.get())) {
        std::string name;
        result = OpenContainerWithKeyOf(sign.get(), name, "SkfUKey::ImportDoubleCert");
        if (result != 0) return result;
    }
    // The driver itself checks the enveloped private key against the public key checked above.
    return ImportCertificatesAndKey(
        signCert, encCert, nullptr, 47,
        [&] {
            return m_skf.SKF_ImportECCKeyPair(
                       m_hContainer, reinterpret_cast<PENVELOPEDKEYBLOB>(const_cast<unsigned char*>(
                                         envelopedKey.data()))) == SAR_OK;
        },
        "SkfUKey::ImportDoubleCert");
}

CResult SkfUKey::ImportDoubleCertWithCntName(ByteArray signCert, ByteArray encCert, ByteArray encKey,
                                             std::string& containerName) {
    CResult result;
    if (!m_opened) {
        TESSAL_FAIL(result, 25, "SkfUKey::ImportDoubleCertWithCntName");
        return result;
    }
    CertificatePtr sign = Certificate(signCert), enc = Certificate(encCert);
    if (!sign || !enc) {
        TESSAL_FAIL(result, kImportFailed, "SkfUKey::ImportDoubleCertWithCntName");
        return result;
    }
    result =
        OpenContainerForSignCert(sign.get(), containerName, "SkfUKey::ImportDoubleCertWithCntName");
    if (result != 0) return result;
    const int wrappedLength = 256;
    return ImportCertificatesAndKey(signCert, encCert, enc.get(), 3, [&] {
        return encKey.length() > wrappedLength &&
               m_skf.SKF_ImportRSAKeyPair(m_hContainer, SGD_SM4_ECB, const_cast<BYTE*>(encKey.data()), wrappedLength,
                                          const_cast<BYTE*>(encKey.data()) + wrappedLength,
                                          static_cast<ULONG>(encKey.length() - wrappedLength)) == SAR_OK;
    }, "SkfUKey::ImportDoubleCertWithCntName");
}
