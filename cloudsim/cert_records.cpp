#include "cert_records.h"

#include <openssl/bn.h>
#include <openssl/evp.h>

#include <cstdio>
#include <fstream>

#include "kit/hex.h"

namespace {

// SHA-256 of the DER encoding, in hexadecimal: the identity of an issued certificate.
std::string Fingerprint(X509* cert) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(cert, EVP_sha256(), md, &length);
    return kit::HexText(md, length);
}

// Issuer name hash and serial number: the identity a revocation names.
std::string RevocationId(X509* cert) {
    char hash[16];
    std::snprintf(hash, sizeof hash, "%08lx", X509_issuer_name_hash(cert));
    return std::string(hash) + ":" + SerialHex(cert);
}

void Load(const std::string& path, std::set<std::string>& into) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) into.insert(line);
}

}  // namespace

std::string SerialHex(X509* cert) {
    BIGNUM* bn = ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert), nullptr);
    char* hex = bn ? BN_bn2hex(bn) : nullptr;
    std::string text = hex ? hex : "";
    OPENSSL_free(hex);
    BN_free(bn);
    return text;
}

CertRecords::CertRecords(const std::string& dir) : m_dir(dir) {
    Load(m_dir + "/issued.txt", m_issued);
    Load(m_dir + "/revoked.txt", m_revoked);
}

void CertRecords::Append(const std::string& file, const std::string& entry) {
    std::ofstream out(m_dir + "/" + file, std::ios::app);
    out << entry << "\n";
}

void CertRecords::RecordIssued(X509* cert) {
    std::string id = Fingerprint(cert);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_issued.insert(id).second) Append("issued.txt", id);
}

void CertRecords::RecordRevoked(X509* cert) {
    std::string id = RevocationId(cert);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_revoked.insert(id).second) Append("revoked.txt", id);
}

bool CertRecords::IsIssued(X509* cert) {
    std::string id = Fingerprint(cert);
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_issued.count(id) != 0;
}

bool CertRecords::IsRevoked(X509* cert) {
    std::string id = RevocationId(cert);
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_revoked.count(id) != 0;
}
