// The engine "VUV": registered when the library loads, and again by signing calls that miss it.
#include "tessal/engine.h"

#include <openssl/crypto.h>
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "api/compiler.h"
#include "api/console.h"
#include "devices/key_manager.h"
#include "devices/key_use.h"
#include "gmcrypto/sm2_method.h"
#include "gmcrypto/sm_objects.h"

namespace {

constexpr char kEngineId[] = "VUV";
constexpr char kSafeEngineLibrary[] = "SafeEngine.dll";

// Answers OpenSSL's questions about the engine's public-key methods.
int PkeyMethods(ENGINE*, EVP_PKEY_METHOD** method, const int** nids, int nid) {
    static const int kListed[] = {EVP_PKEY_RSA};
    if (!method) {
        *nids = kListed;
        return 1;
    }
    EVP_PKEY_METHOD* backed = KeyBackedSm2Method(nid);
    *method = backed ? backed : const_cast<EVP_PKEY_METHOD*>(EVP_PKEY_meth_find(nid));
    return *method ? 1 : 0;
}

}  // namespace

RSA_METHOD* Engine::m_rsa = nullptr;
TESSAL_INIT_PRIORITY(104) CCrypto Engine::m_crypto;
CCryptoEncryt Engine::m_cryptoEncrypt;

CCrypto::CCrypto() {
    // OpenSSL is not torn down at exit (when the library is the first to start it): a signature
    // still running on another thread while the process exits goes on using it.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
    RegisterSmObjects();
}

// Registered at load, before any host thread signs.
TESSAL_INIT_PRIORITY(105) static Engine g_engine;

Engine::Engine() { InitRsaEngine(); }

Engine::~Engine() { finish(); }

CResult Engine::InitRsaEngine() {
    RegisterSmObjects();
    OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr);
    EVP_add_digest(EVP_sha1());
    EVP_add_digest(EVP_sha256());
    OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);

    if (!m_rsa) {
        const RSA_METHOD* base = RSA_PKCS1_OpenSSL();
        RSA_METHOD* method = RSA_meth_new("VUV RSA method", 0);
        bool ok = method && RSA_meth_set_pub_enc(method, RSA_meth_get_pub_enc(base)) == 1 &&
                  RSA_meth_set_pub_dec(method, RSA_meth_get_pub_dec(base)) == 1 &&
                  RSA_meth_set_mod_exp(method, RSA_meth_get_mod_exp(base)) == 1 &&
                  RSA_meth_set_bn_mod_exp(method, RSA_meth_get_bn_mod_exp(base)) == 1 &&
                  RSA_meth_set_priv_enc(method, VUV_rsa_priv_enc) == 1 &&
                  RSA_meth_set_priv_dec(method, VUV_rsa_priv_dec) == 1 &&
                  RSA_meth_set_init(method, VUV_rsa_init) == 1 && RSA_meth_set_finish(method, VUV_rsa_finish) == 1;
        (void)ok;  // a partly set method is kept, as OpenSSL left it
        m_rsa = method;
    }

    ENGINE* existing = ENGINE_by_id(kEngineId);
    if (existing) {
        ENGINE_free(existing);
        ERR_clear_error();
        return CResult();
    }
    ERR_clear_error();
    ENGINE* engine = ENGINE_new();
    if (!engine || ENGINE_set_id(engine, kEngineId) != 1 || ENGINE_set_name(engine, "VUV Engine") != 1 ||
        ENGINE_set_RSA(engine, m_rsa) != 1 || ENGINE_set_pkey_meths(engine, PkeyMethods) != 1 ||
        ENGINE_set_finish_function(engine, VUV_finish) != 1) {
        ENGINE_free(engine);
        return CResult();
    }
    ENGINE_set_flags(engine, ENGINE_FLAGS_NO_REGISTER_ALL);
    ENGINE_add(engine);
    ENGINE_free(engine);
    return CResult();
}

void Engine::finish() {
    ENGINE* engine = ENGINE_by_id(kEngineId);
    if (!engine) {
        ERR_clear_error();
        return;
    }
    ENGINE_remove(engine);
    ENGINE_free(engine);
}

int Engine::VUV_rsa_priv_enc(int flen, const unsigned char* from, unsigned char* to, RSA* rsa, int padding) {
    ConsoleLine("in VUV_rsa_priv_enc\n");
    KeyUse use(UKeyManager::GetInstance().KeyInUse());
    UsbKey* key = use.get();
    if (!key || flen < 0) return -1;
    int n = RSA_size(rsa);
    std::vector<unsigned char> block(from, from + flen);
    if (key->GetLibName() == kSafeEngineLibrary) {
        // This library signs the block as given, so it gets the padded block.
        std::vector<unsigned char> padded(static_cast<size_t>(n));
        int ok = 0;
        if (padding == RSA_PKCS1_PADDING) ok = RSA_padding_add_PKCS1_type_1(padded.data(), n, from, flen);
        else if (padding == RSA_NO_PADDING) ok = RSA_padding_add_none(padded.data(), n, from, flen);
        else if (padding == RSA_X931_PADDING) ok = RSA_padding_add_X931(padded.data(), n, from, flen);
        // Any other padding would hand the key a block nobody filled: refuse it.
        if (ok != 1) return -1;
        block.swap(padded);
    }
    ByteArray in(block.data(), static_cast<unsigned long>(block.size()));
    ByteArray out;
    OPENSSL_cleanse(block.data(), block.size());
    if (key->EncryptDataByPrivKey(in, out) != 0 || out.length() > n) return -1;
    std::memcpy(to, out.data(), static_cast<size_t>(out.length()));
    return out.length();
}

int Engine::VUV_rsa_priv_dec(int, const unsigned char*, unsigned char*, RSA*, int) { return 1; }

int Engine::VUV_rsa_pub_enc(int, const unsigned char*, unsigned char*, RSA*, int) {
    ConsoleLine("Not support public encrypt\n");
    return -1;
}

int Engine::VUV_rsa_pub_dec(int, const unsigned char*, unsigned char*, RSA*, int) {
    ConsoleLine("Not support public decrypt\n");
    return -1;
}

int Engine::VUV_rsa_init(RSA*) { return 1; }
int Engine::VUV_rsa_finish(RSA*) { return 1; }
int Engine::VUV_finish(ENGINE*) { return 1; }

int Engine::VUV_destroy(ENGINE*) {
    RSA_meth_free(m_rsa);
    m_rsa = nullptr;
    return 1;
}
