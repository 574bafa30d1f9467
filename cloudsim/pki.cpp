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

void Sign(X509* cert, EVP_PKEY* key) {
    if (!EVP_PKEY_is_a(key, "SM2")) {
        if (X509_sign(cert, key, EVP_sha256()) <= 0) throw std::runtime_error("signing failed");
        return;
    }
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new(key, nullptr);
    bool ok = md && pctx && EVP_PKEY_CTX_set1_id(pctx, "1234567812345678", 16) == 1;
    if (ok) EVP_MD_CTX_set_pkey_ctx(md, pctx);
    ok = ok && EVP_DigestSignInit(md, nullptr, EVP_sm3(), nullptr, key) == 1 && X509_sign_ctx(cert, md) > 0;
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);
    if (!ok) throw std::runtime_error("SM2 signing failed");
}

}  // namespace

X509* IssueCertificate(const X509_NAME* subject, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
                       const Extensions& extensions) {
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
    X509_set_subject_name(cert, subject);
    X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : subject);
    X509_set_pubkey(cert, key);
    X509* signer = issuer ? issuer : cert;
    try {
        for (const auto& ext : extensions) AddExt(cert, signer, ext.first, ext.second);
        Sign(cert, issuerKey);
    } catch (...) {
        X509_free(cert);
        throw;
    }
    return cert;
}

X509* Issue(const char* cn, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey, const Extensions& extensions) {
    X509_NAME* name = X509_NAME_new();
    X509_NAME_add_entry_by_txt(name, "C", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("CN"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Cloudsim"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    try {
        X509* cert = IssueCertificate(name, key, issuer, issuerKey, extensions);
        X509_NAME_free(name);
        return cert;
    } catch (...) {
        X509_NAME_free(name);
        throw;
    }
}

void LoadOrCreate(const std::string& certPath, const std::string& keyPath, const std::function<EVP_PKEY*()>& newKey,
                  const std::function<X509*(EVP_PKEY*)>& issue, X509*& cert, EVP_PKEY*& key) {
    if (!Exists(certPath) || !Exists(keyPath)) {
        EVP_PKEY* made = newKey();
        if (!made) throw std::runtime_error("cannot make a key for " + certPath);
        X509* issued = nullptr;
        try {
            issued = issue(made);
            WriteKey(keyPath, made);
            WriteCert(certPath, issued);
        } catch (...) {
            EVP_PKEY_free(made);
            X509_free(issued);
            throw;
        }
        EVP_PKEY_free(made);
        X509_free(issued);
    }
    cert = ReadCert(certPath);
    key = ReadKey(keyPath);
}

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
    pki.serverCertPath = dir + "/server.pem";
    pki.serverKeyPath = dir + "/server.key";
    auto rsaKey = [] { return EVP_RSA_gen(2048); };
    LoadOrCreate(dir + "/ca.pem", dir + "/ca.key", rsaKey, [](EVP_PKEY* key) {
        return Issue("Cloudsim Test CA", key, nullptr, key,
                     {{NID_basic_constraints, "critical,CA:TRUE"},
                      {NID_key_usage, "critical,keyCertSign,cRLSign"},
                      {NID_subject_key_identifier, "hash"}});
    }, pki.ca, pki.caKey);
    LoadOrCreate(pki.serverCertPath, pki.serverKeyPath, rsaKey, [&](EVP_PKEY* key) {
        return Issue("localhost", key, pki.ca, pki.caKey,
                     {{NID_basic_constraints, "critical,CA:FALSE"},
                      {NID_ext_key_usage, "serverAuth"},
                      {NID_subject_alt_name,
                       "DNS:localhost,IP:127.0.0.1,DNS:*.example.com,DNS:*.example.cn,DNS:*.example.test,"
                       "DNS:*.example.net,DNS:*.example.org"}});
    }, pki.server, pki.serverKey);
    LoadOrCreate(dir + "/tsa.pem", dir + "/tsa.key", rsaKey, [&](EVP_PKEY* key) {
        return Issue("Cloudsim Time-Stamping Authority", key, pki.ca, pki.caKey,
                     {{NID_basic_constraints, "critical,CA:FALSE"},
                      {NID_key_usage, "critical,digitalSignature,nonRepudiation"},
                      {NID_ext_key_usage, "critical,timeStamping"},
                      {NID_subject_key_identifier, "hash"}});
    }, pki.tsa, pki.tsaKey);
    return pki;
}
