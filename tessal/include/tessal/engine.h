// The OpenSSL engine "VUV": RSA private-key operations and SM2 signing done by the current key.
#pragma once

#include <openssl/rsa.h>

#include "tessal/export.h"
#include "tessal/result.h"

// Its construction registers the SM2/SM3 objects with OpenSSL.
class TESSAL_API CCrypto {
public:
    CCrypto();
};

class TESSAL_API CCryptoEncryt {};

class TESSAL_API Engine {
public:
    Engine();
    ~Engine();

    // Registers the objects and the engine; always code 0.
    static CResult InitRsaEngine();
    // Removes the engine from OpenSSL's list.
    static void finish();

    static RSA_METHOD* m_rsa;
    static CCrypto m_crypto;
    static CCryptoEncryt m_cryptoEncrypt;

private:
    static int VUV_rsa_priv_enc(int flen, const unsigned char* from, unsigned char* to, RSA* rsa, int padding);
    static int VUV_rsa_priv_dec(int flen, const unsigned char* from, unsigned char* to, RSA* rsa, int padding);
    static int VUV_rsa_pub_enc(int flen, const unsigned char* from, unsigned char* to, RSA* rsa, int padding);
    static int VUV_rsa_pub_dec(int flen, const unsigned char* from, unsigned char* to, RSA* rsa, int padding);
    static int VUV_rsa_init(RSA* rsa);
    static int VUV_rsa_finish(RSA* rsa);
    static int VUV_finish(ENGINE* e);
    static int VUV_destroy(ENGINE* e);
};
