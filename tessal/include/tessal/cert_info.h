// A parsed X.509 certificate with its fields as text.
#pragma once

#include <openssl/types.h>

#include <string>
#include <unordered_map>

#include "tessal/byte_array.h"
#include "tessal/export.h"

class TESSAL_API CertInfo {
public:
    explicit CertInfo(const ByteArray& der);
    explicit CertInfo(x509_st* certificate);
    CertInfo(const CertInfo& other);
    CertInfo& operator=(const CertInfo& other);
    virtual ~CertInfo();

    std::string getCN();
    std::string getIssuerCN();
    std::string getSN();
    std::string getCertAlg();
    std::string getValidStart();
    std::string getValidEnd();
    std::string getVersion();
    // Items 1 to 14 and 17; any other index throws std::out_of_range.
    std::string getCertItem(int index);
    std::string getCertBase64Data();
    ByteArray getByteCertData();
    x509_st* getX509() const;

    void initMap();
    void parse_cert();
    void parse_version();
    void parse_SN();
    void parse_ValidDate();
    void parse_KeyUsage();
    void parse_Issuer();
    void parse_User();
    void parse_CertAlg();
    void parse_AuthorityKeyId();
    void parse_SubjectKeyId();

    // "2024/03/05 17:07:01 +08'00'": a certificate time in the computer's local time.
    static std::string ASN1_TimeConvert(asn1_string_st* time);

    std::string m_issuerCN;
    std::string m_issuerC;
    std::string m_issuerL;
    std::string m_issuerST;
    std::string m_issuerO;
    std::string m_issuerOU;
    std::string m_issuerEmail;
    std::string m_subjectCN;
    std::string m_subjectC;
    std::string m_subjectO;
    std::string m_authorityKeyId;
    std::string m_subjectKeyId;
    std::string m_version;
    std::string m_serialNumber;
    std::string m_validStart;
    std::string m_validEnd;
    std::string m_certAlg;
    int m_sigAlgNid;
    unsigned int m_keyUsage;
    x509_st* m_x509;
    ByteArray m_certData;
    std::unordered_map<int, std::string> m_itemMap;

private:
    void ParseOwnCopy();
};
