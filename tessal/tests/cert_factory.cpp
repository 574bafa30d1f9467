#include "cert_factory.h"

#include <openssl/bn.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <fstream>
#include <stdexcept>

namespace test_support {
namespace {

void AddText(X509_NAME* name, int nid, const std::string& value) {
    if (value.empty()) return;
    X509_NAME_ENTRY* entry = X509_NAME_ENTRY_create_by_NID(
        nullptr, nid, V_ASN1_UTF8STRING, reinterpret_cast<const unsigned char*>(value.data()),
        static_cast<int>(value.size()));
    X509_NAME_add_entry(name, entry, -1, 0);
    X509_NAME_ENTRY_free(entry);
}

// UTF-8 text as a BMPString (big-endian UTF-16, characters of the basic plane).
void AddBmp(X509_NAME* name, int nid, const std::string& utf8) {
    std::string bmp;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = utf8[i];
        unsigned cp;
        if (c < 0x80) {
            cp = c;
            i += 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = ((c & 0x1F) << 6) | (utf8[i + 1] & 0x3F);
            i += 2;
        } else {
            cp = ((c & 0x0F) << 12) | ((utf8[i + 1] & 0x3F) << 6) | (utf8[i + 2] & 0x3F);
            i += 3;
        }
        bmp += static_cast<char>(cp >> 8);
        bmp += static_cast<char>(cp & 0xFF);
    }
    X509_NAME_ENTRY* entry = X509_NAME_ENTRY_create_by_NID(
        nullptr, nid, V_ASN1_BMPSTRING, reinterpret_cast<const unsigned char*>(bmp.data()), static_cast<int>(bmp.size()));
    X509_NAME_add_entry(name, entry, -1, 0);
    X509_NAME_ENTRY_free(entry);
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer ? issuer : cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext) throw std::runtime_error(std::string("bad extension ") + value);
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

}  // namespace

EVP_PKEY* NewRsaKey(int bits) { return EVP_RSA_gen(static_cast<unsigned>(bits)); }

EVP_PKEY* NewSm2Key() { return EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"); }

EVP_PKEY* LoadPemKey(const std::string& path) {
    BIO* bio = BIO_new_file(path.c_str(), "r");
    EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    if (!key) throw std::runtime_error("cannot read key " + path);
    return key;
}

X509* LoadPemCert(const std::string& path) {
    BIO* bio = BIO_new_file(path.c_str(), "r");
    X509* cert = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    if (!cert) throw std::runtime_error("cannot read certificate " + path);
    return cert;
}

X509* MakeCertificate(const CertSpec& spec, EVP_PKEY* subjectKey, EVP_PKEY* issuerKey) {
    X509* cert = X509_new();
    X509_set_version(cert, spec.version);
    BIGNUM* bn = BN_bin2bn(spec.serial.data(), static_cast<int>(spec.serial.size()), nullptr);
    BN_set_negative(bn, spec.negativeSerial ? 1 : 0);
    ASN1_INTEGER* serial = BN_to_ASN1_INTEGER(bn, nullptr);
    X509_set_serialNumber(cert, serial);
    ASN1_INTEGER_free(serial);
    BN_free(bn);
    ASN1_TIME_set_string(X509_getm_notBefore(cert), spec.notBefore.c_str());
    ASN1_TIME_set_string(X509_getm_notAfter(cert), spec.notAfter.c_str());

    X509_NAME* subject = X509_get_subject_name(cert);
    AddText(subject, NID_countryName, spec.subjectC);
    AddText(subject, NID_organizationName, spec.subjectO);
    AddText(subject, NID_commonName, spec.subjectCN);
    X509_NAME* issuer = X509_get_issuer_name(cert);
    AddText(issuer, NID_countryName, spec.issuerC);
    AddText(issuer, NID_stateOrProvinceName, spec.issuerST);
    AddText(issuer, NID_localityName, spec.issuerL);
    AddText(issuer, NID_organizationName, spec.issuerO);
    AddText(issuer, NID_organizationalUnitName, spec.issuerOU);
    if (spec.issuerCNAsBmp)
        AddBmp(issuer, NID_commonName, spec.issuerCN);
    else
        AddText(issuer, NID_commonName, spec.issuerCN);
    AddText(issuer, NID_pkcs9_emailAddress, spec.issuerEmail);
    X509_set_pubkey(cert, subjectKey);

    if (spec.version == 2) {
        if (spec.caExtensions) {
            AddExtension(cert, nullptr, NID_basic_constraints, "critical,CA:TRUE");
            AddExtension(cert, nullptr, NID_key_usage, "critical,digitalSignature,keyCertSign,cRLSign");
        }
        if (spec.subjectKeyId) AddExtension(cert, nullptr, NID_subject_key_identifier, "hash");
        if (!spec.authorityKeyIdHex.empty()) {
            ASN1_OCTET_STRING* id = ASN1_OCTET_STRING_new();
            std::vector<unsigned char> bytes;
            for (size_t i = 0; i + 1 < spec.authorityKeyIdHex.size(); i += 2)
                bytes.push_back(static_cast<unsigned char>(std::stoi(spec.authorityKeyIdHex.substr(i, 2), nullptr, 16)));
            ASN1_OCTET_STRING_set(id, bytes.data(), static_cast<int>(bytes.size()));
            AUTHORITY_KEYID* aki = AUTHORITY_KEYID_new();
            aki->keyid = id;
            X509_add1_ext_i2d(cert, NID_authority_key_identifier, aki, 0, X509V3_ADD_DEFAULT);
            AUTHORITY_KEYID_free(aki);
        }
    }

    EVP_MD_CTX* md = EVP_MD_CTX_new();
    bool sm2 = EVP_PKEY_is_a(issuerKey, "SM2");
    EVP_PKEY_CTX* pctx = nullptr;
    EVP_DigestSignInit(md, &pctx, sm2 ? EVP_sm3() : EVP_sha256(), nullptr, issuerKey);
    if (sm2) EVP_PKEY_CTX_set1_id(pctx, "1234567812345678", 16);
    if (X509_sign_ctx(cert, md) <= 0) throw std::runtime_error("signing the test certificate failed");
    EVP_MD_CTX_free(md);
    return cert;
}

void SetSignatureAlgorithm(X509* cert, const char* oid) {
    const X509_ALGOR* outer = nullptr;
    X509_get0_signature(nullptr, &outer, cert);
    X509_ALGOR_set0(const_cast<X509_ALGOR*>(outer), OBJ_txt2obj(oid, 1), V_ASN1_NULL, nullptr);
    X509_ALGOR_set0(const_cast<X509_ALGOR*>(X509_get0_tbs_sigalg(cert)), OBJ_txt2obj(oid, 1), V_ASN1_NULL, nullptr);
    i2d_re_X509_tbs(cert, nullptr);
}

ByteArray Der(X509* cert) {
    unsigned char* der = nullptr;
    int len = i2d_X509(cert, &der);
    ByteArray bytes(der, static_cast<unsigned long>(len));
    OPENSSL_free(der);
    return bytes;
}

std::string Pem(X509* cert) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char* data = nullptr;
    long len = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<size_t>(len));
    BIO_free(bio);
    return pem;
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

}  // namespace test_support
