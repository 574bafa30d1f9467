// CertInfo: the text fields of one certificate, extracted once.
#include "tessal/cert_info.h"

#include <openssl/bn.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <stdexcept>

#include "api/encodings.h"
#include "platform/local_time.h"
#include "tessal/ca_list.h"

namespace {

X509* ParseDer(const ByteArray& der) {
    if (der.length() <= 0) return nullptr;
    const unsigned char* p = der.data();
    return d2i_X509(nullptr, &p, der.length());
}

ByteArray EncodeDer(X509* cert) {
    unsigned char* der = nullptr;
    int len = cert ? i2d_X509(cert, &der) : -1;
    if (len <= 0) return ByteArray();
    ByteArray bytes(der, static_cast<unsigned long>(len));
    OPENSSL_free(der);
    return bytes;
}

// The first entry of `nid` in a name, as UTF-8; `field` is left alone when there is none.
void ReadNameEntry(X509_NAME* name, int nid, std::string& field) {
    int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0) return;
    X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, index);
    // Converted into a buffer sized to the value, whatever its length.
    field = Asn1StringText(X509_NAME_ENTRY_get_data(entry));
}

int Digit(const unsigned char* text, int length, int pos) {
    return pos < length ? text[pos] - '0' : 0;
}

int TwoDigits(const unsigned char* text, int length, int pos) {
    return Digit(text, length, pos) * 10 + Digit(text, length, pos + 1);
}

}  // namespace

CertInfo::CertInfo(const ByteArray& der) : m_sigAlgNid(0), m_keyUsage(0), m_x509(nullptr), m_certData(der) {
    ParseOwnCopy();
}

CertInfo::CertInfo(x509_st* certificate)
    : m_sigAlgNid(0), m_keyUsage(0), m_x509(nullptr), m_certData(EncodeDer(certificate)) {
    ParseOwnCopy();
}

CertInfo::CertInfo(const CertInfo& other)
    : m_issuerCN(other.m_issuerCN), m_issuerC(other.m_issuerC), m_issuerL(other.m_issuerL),
      m_issuerST(other.m_issuerST), m_issuerO(other.m_issuerO), m_issuerOU(other.m_issuerOU),
      m_issuerEmail(other.m_issuerEmail), m_subjectCN(other.m_subjectCN), m_subjectC(other.m_subjectC),
      m_subjectO(other.m_subjectO), m_authorityKeyId(other.m_authorityKeyId),
      m_subjectKeyId(other.m_subjectKeyId), m_version(other.m_version), m_serialNumber(other.m_serialNumber),
      m_validStart(other.m_validStart), m_validEnd(other.m_validEnd), m_certAlg(other.m_certAlg),
      m_sigAlgNid(other.m_sigAlgNid), m_keyUsage(other.m_keyUsage), m_x509(ParseDer(other.m_certData)),
      m_certData(other.m_certData), m_itemMap(other.m_itemMap) {}

CertInfo& CertInfo::operator=(const CertInfo& other) {
    if (this == &other) return *this;
    CertInfo copy(other);
    X509_free(m_x509);
    m_x509 = copy.m_x509;
    copy.m_x509 = nullptr;
    m_issuerCN = copy.m_issuerCN;
    m_issuerC = copy.m_issuerC;
    m_issuerL = copy.m_issuerL;
    m_issuerST = copy.m_issuerST;
    m_issuerO = copy.m_issuerO;
    m_issuerOU = copy.m_issuerOU;
    m_issuerEmail = copy.m_issuerEmail;
    m_subjectCN = copy.m_subjectCN;
    m_subjectC = copy.m_subjectC;
    m_subjectO = copy.m_subjectO;
    m_authorityKeyId = copy.m_authorityKeyId;
    m_subjectKeyId = copy.m_subjectKeyId;
    m_version = copy.m_version;
    m_serialNumber = copy.m_serialNumber;
    m_validStart = copy.m_validStart;
    m_validEnd = copy.m_validEnd;
    m_certAlg = copy.m_certAlg;
    m_sigAlgNid = copy.m_sigAlgNid;
    m_keyUsage = copy.m_keyUsage;
    m_certData = copy.m_certData;
    m_itemMap = copy.m_itemMap;
    return *this;
}

CertInfo::~CertInfo() { X509_free(m_x509); }

void CertInfo::ParseOwnCopy() {
    m_x509 = ParseDer(m_certData);
    parse_cert();
}

std::string CertInfo::getCN() { return m_subjectCN; }
std::string CertInfo::getIssuerCN() { return m_issuerCN; }
std::string CertInfo::getSN() { return m_serialNumber; }
std::string CertInfo::getCertAlg() { return m_certAlg; }
std::string CertInfo::getValidStart() { return m_validStart; }
std::string CertInfo::getValidEnd() { return m_validEnd; }
std::string CertInfo::getVersion() { return m_version; }

std::string CertInfo::getCertItem(int index) {
    auto it = m_itemMap.find(index);
    if (it == m_itemMap.end()) throw std::out_of_range("invalid unordered_map<K, T> key");
    return it->second;
}

std::string CertInfo::getCertBase64Data() { return Base64Encode(EncodeDer(m_x509)); }

ByteArray CertInfo::getByteCertData() { return m_certData; }

x509_st* CertInfo::getX509() const { return m_x509; }

void CertInfo::initMap() {
    m_itemMap[1] = m_version;
    m_itemMap[2] = m_serialNumber;
    m_itemMap[3] = m_certAlg;
    m_itemMap[4] = m_issuerC;
    m_itemMap[5] = m_issuerO;
    m_itemMap[6] = m_issuerOU;
    m_itemMap[7] = m_issuerST;
    m_itemMap[8] = m_issuerCN;
    m_itemMap[9] = m_issuerL;
    m_itemMap[10] = m_issuerEmail;
    m_itemMap[11] = m_validStart;
    m_itemMap[12] = m_validEnd;
    m_itemMap[13] = m_subjectC;
    m_itemMap[14] = m_subjectO;
    m_itemMap[17] = m_subjectCN;
}

void CertInfo::parse_cert() {
    if (m_x509) {
        parse_version();
        parse_SN();
        parse_ValidDate();
        parse_KeyUsage();
        parse_Issuer();
        parse_User();
        parse_CertAlg();
        parse_AuthorityKeyId();
        parse_SubjectKeyId();
    }
    initMap();
}

void CertInfo::parse_version() {
    switch (X509_get_version(m_x509)) {
        case 0: m_version = "V1"; break;
        case 1: m_version = "V2"; break;
        case 2: m_version = "V3"; break;
        default: break;
    }
}

void CertInfo::parse_SN() {
    BIGNUM* bn = ASN1_INTEGER_to_BN(X509_get0_serialNumber(m_x509), nullptr);
    char* hex = bn ? BN_bn2hex(bn) : nullptr;
    if (hex) m_serialNumber = hex;
    OPENSSL_free(hex);
    BN_free(bn);
}

void CertInfo::parse_ValidDate() {
    m_validStart = ASN1_TimeConvert(const_cast<ASN1_TIME*>(X509_get0_notBefore(m_x509)));
    m_validEnd = ASN1_TimeConvert(const_cast<ASN1_TIME*>(X509_get0_notAfter(m_x509)));
}

void CertInfo::parse_KeyUsage() { m_keyUsage = X509_get_key_usage(m_x509); }

void CertInfo::parse_Issuer() {
    X509_NAME* name = X509_get_issuer_name(m_x509);
    ReadNameEntry(name, NID_commonName, m_issuerCN);
    ReadNameEntry(name, NID_countryName, m_issuerC);
    ReadNameEntry(name, NID_pkcs9_emailAddress, m_issuerEmail);
    ReadNameEntry(name, NID_localityName, m_issuerL);
    ReadNameEntry(name, NID_stateOrProvinceName, m_issuerST);
    ReadNameEntry(name, NID_organizationName, m_issuerO);
    ReadNameEntry(name, NID_organizationalUnitName, m_issuerOU);
}

void CertInfo::parse_User() {
    X509_NAME* name = X509_get_subject_name(m_x509);
    ReadNameEntry(name, NID_commonName, m_subjectCN);
    ReadNameEntry(name, NID_countryName, m_subjectC);
    ReadNameEntry(name, NID_organizationName, m_subjectO);
}

void CertInfo::parse_CertAlg() {
    const X509_ALGOR* alg = nullptr;
    X509_get0_signature(nullptr, &alg, m_x509);
    if (!alg) return;
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, alg);
    if (!oid) return;
    char dotted[128] = {0};
    OBJ_obj2txt(dotted, sizeof dotted, oid, 1);
    m_sigAlgNid = OBJ_obj2nid(oid);
    auto known = CAList::mapAlgInfo.find(dotted);
    if (known != CAList::mapAlgInfo.end()) {
        m_certAlg = known->second;
        return;
    }
    const char* shortName = m_sigAlgNid != NID_undef ? OBJ_nid2sn(m_sigAlgNid) : nullptr;
    m_certAlg = shortName ? shortName : dotted;
}

void CertInfo::parse_AuthorityKeyId() {
    const ASN1_OCTET_STRING* id = X509_get0_authority_key_id(m_x509);
    if (id)
        m_authorityKeyId = HexEncode(reinterpret_cast<const char*>(ASN1_STRING_get0_data(id)), ASN1_STRING_length(id));
}

void CertInfo::parse_SubjectKeyId() {
    const ASN1_OCTET_STRING* id = X509_get0_subject_key_id(m_x509);
    if (id)
        m_subjectKeyId = HexEncode(reinterpret_cast<const char*>(ASN1_STRING_get0_data(id)), ASN1_STRING_length(id));
}

std::string CertInfo::ASN1_TimeConvert(asn1_string_st* time) {
    if (!time) return std::string();
    const unsigned char* text = ASN1_STRING_get0_data(time);
    int length = ASN1_STRING_length(time);
    struct tm utc = {};
    int pos;
    switch (ASN1_STRING_type(time)) {
        case V_ASN1_UTCTIME: {
            int yy = TwoDigits(text, length, 0);
            utc.tm_year = (yy < 70 ? 2000 + yy : 1900 + yy) - 1900;
            pos = 2;
            break;
        }
        case V_ASN1_GENERALIZEDTIME:
            utc.tm_year = TwoDigits(text, length, 0) * 100 + TwoDigits(text, length, 2) - 1900;
            pos = 4;
            break;
        default:
            utc.tm_year = 0;
            pos = 0;
            break;
    }
    utc.tm_mon = TwoDigits(text, length, pos) - 1;
    utc.tm_mday = TwoDigits(text, length, pos + 2);
    utc.tm_hour = TwoDigits(text, length, pos + 4);
    utc.tm_min = TwoDigits(text, length, pos + 6);
    utc.tm_sec = TwoDigits(text, length, pos + 8);
    utc.tm_isdst = 0;

    // The zone's standard offset (daylight saving off), as the display shows it.
    long offset = platform::StandardZoneOffset();
    struct tm local = platform::LocalTime(platform::UtcToInstant(utc));

    long magnitude = offset < 0 ? -offset : offset;
    int hours = static_cast<int>(magnitude / 3600);
    int minutes = static_cast<int>(magnitude % 3600 / 60);
    char buffer[100];
    // West of UTC the offset is printed with its real sign.
    std::snprintf(buffer, sizeof buffer, "%d/%02d/%02d %02d:%02d:%02d %c%02d'%02d'", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, offset < 0 ? '-' : '+',
                  hours, minutes);
    return buffer;
}
