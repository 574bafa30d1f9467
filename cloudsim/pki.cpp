#include "pki.h"

#include <openssl/bn.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <stdexcept>
#include <utility>
#include <vector>

namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

EVP_PKEY* ReadKey(const std::string& path) {
    BIO* bio = BIO_new_file(path.c_str(), "r");
    EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    if (!key) throw std::runtime_error("cannot read " + path);
    return key;
}

X509* ReadCert(const std::string& path) {
    BIO* bio = BIO_new_file(path.c_str(), "r");
    X509* cert = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    if (!cert) throw std::runtime_error("cannot read " + path);
    return cert;
}

void WriteKey(const std::string& path, EVP_PKEY* key) {
    BIO* bio = BIO_new_file(path.c_str(), "w");
    if (!bio || PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        throw std::runtime_error("cannot write " + path);
    BIO_free(bio);
    chmod(path.c_str(), 0600);
}

void WriteCert(const std::string& path, X509* cert) {
    BIO* bio = BIO_new_file(path.c_str(), "w");
    if (!bio || PEM_write_bio_X509(bio, cert) != 1) throw std::runtime_error("cannot write " + path);
    BIO_free(bio);
}

void AddExt(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext) throw std::runtime_error(std::string("bad extension ") + value);
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

X509* Issue(const char* cn, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
            const std::vector<std::pair<int, const char*>>& extensions) {
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7F;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert));
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 10L * 365 * 24 * 3600);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "C", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("CN"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Cloudsim"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : name);
    X509_set_pubkey(cert, key);
    X509* signer = issuer ? issuer : cert;
    for (const auto& ext : extensions) AddExt(cert, signer, ext.first, ext.second);
    if (X509_sign(cert, issuerKey, EVP_sha256()) <= 0) throw std::runtime_error("signing failed");
    return cert;
}

}  // namespace

void FreePki(Pki& pki) {
    X509_free(pki.ca);
    EVP_PKEY_free(pki.caKey);
    X509_free(pki.server);
    EVP_PKEY_free(pki.serverKey);
    X509_free(pki.tsa);
    EVP_PKEY_free(pki.tsaKey);
    pki = Pki();
}

Pki LoadOrCreatePki(const std::string& dir) {
    Pki pki;
    std::string caCert = dir + "/ca.pem", caKey = dir + "/ca.key";
    pki.serverCertPath = dir + "/server.pem";
    pki.serverKeyPath = dir + "/server.key";
    std::string tsaCert = dir + "/tsa.pem", tsaKey = dir + "/tsa.key";
    if (!Exists(caCert) || !Exists(caKey)) {
        EVP_PKEY* key = EVP_RSA_gen(2048);
        X509* cert = Issue("Cloudsim Test CA", key, nullptr, key,
                           {{NID_basic_constraints, "critical,CA:TRUE"},
                            {NID_key_usage, "critical,keyCertSign,cRLSign"},
                            {NID_subject_key_identifier, "hash"}});
        WriteKey(caKey, key);
        WriteCert(caCert, cert);
        EVP_PKEY_free(key);
        X509_free(cert);
    }
    pki.ca = ReadCert(caCert);
    pki.caKey = ReadKey(caKey);
    if (!Exists(pki.serverCertPath) || !Exists(pki.serverKeyPath)) {
        EVP_PKEY* key = EVP_RSA_gen(2048);
        X509* cert = Issue("localhost", key, pki.ca, pki.caKey,
                           {{NID_basic_constraints, "critical,CA:FALSE"},
                            {NID_ext_key_usage, "serverAuth"},
                            {NID_subject_alt_name,
                             "DNS:localhost,IP:127.0.0.1,DNS:*.example.com,DNS:*.example.cn,DNS:*.example.test,"
                             "DNS:*.example.net,DNS:*.example.org"}});
        WriteKey(pki.serverKeyPath, key);
        WriteCert(pki.serverCertPath, cert);
        EVP_PKEY_free(key);
        X509_free(cert);
    }
    pki.server = ReadCert(pki.serverCertPath);
    pki.serverKey = ReadKey(pki.serverKeyPath);
    if (!Exists(tsaCert) || !Exists(tsaKey)) {
        EVP_PKEY* key = EVP_RSA_gen(2048);
        X509* cert = Issue("Cloudsim Time-Stamping Authority", key, pki.ca, pki.caKey,
                           {{NID_basic_constraints, "critical,CA:FALSE"},
                            {NID_key_usage, "critical,digitalSignature,nonRepudiation"},
                            {NID_ext_key_usage, "critical,timeStamping"},
                            {NID_subject_key_identifier, "hash"}});
        WriteKey(tsaKey, key);
        WriteCert(tsaCert, cert);
        EVP_PKEY_free(key);
        X509_free(cert);
    }
    pki.tsa = ReadCert(tsaCert);
    pki.tsaKey = ReadKey(tsaKey);
    return pki;
}
