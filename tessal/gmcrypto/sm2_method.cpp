// The key-backed SM2 method (the legacy EVP_PKEY_METHOD interface, bound per key).
#include "gmcrypto/sm2_method.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>

#include <cstring>
#include <new>
#include <vector>

#include "devices/key_manager.h"
#include "devices/key_use.h"
#include "tessal/byte_array.h"

namespace {

constexpr int kCtrlSetIdLegacy = 0x100B;

// Per-context data: the group for parameter generation (unused), the digest, the identifier.
struct Sm2Context {
    EC_GROUP* group = nullptr;
    const EVP_MD* md = nullptr;
    unsigned char* id = nullptr;
    size_t idLen = 0;
    int idSet = 0;
};

Sm2Context* ContextOf(EVP_PKEY_CTX* ctx) { return static_cast<Sm2Context*>(EVP_PKEY_CTX_get_data(ctx)); }

// The uncompressed public point of the context's (legacy EC) key.
bool PublicPoint(EVP_PKEY_CTX* ctx, unsigned char point[65]) {
    EVP_PKEY* pkey = EVP_PKEY_CTX_get0_pkey(ctx);
    const EC_KEY* ec = pkey ? EVP_PKEY_get0_EC_KEY(pkey) : nullptr;
    if (!ec || !EC_KEY_get0_public_key(ec)) return false;
    return EC_POINT_point2oct(EC_KEY_get0_group(ec), EC_KEY_get0_public_key(ec), POINT_CONVERSION_UNCOMPRESSED,
                              point, 65, nullptr) == 65;
}

int Init(EVP_PKEY_CTX* ctx) {
    Sm2Context* data = new (std::nothrow) Sm2Context();
    if (!data) return 0;
    EVP_PKEY_CTX_set_data(ctx, data);
    return 1;
}

void Cleanup(EVP_PKEY_CTX* ctx) {
    Sm2Context* data = ContextOf(ctx);
    if (!data) return;
    EC_GROUP_free(data->group);
    OPENSSL_free(data->id);
    delete data;
    EVP_PKEY_CTX_set_data(ctx, nullptr);
}

int Copy(EVP_PKEY_CTX* dst, const EVP_PKEY_CTX* src) {
    if (!Init(dst)) return 0;
    Sm2Context* from = ContextOf(const_cast<EVP_PKEY_CTX*>(src));
    Sm2Context* to = ContextOf(dst);
    if (from->group && !(to->group = EC_GROUP_dup(from->group))) {
        Cleanup(dst);
        return 0;
    }
    if (from->id) {
        to->id = static_cast<unsigned char*>(OPENSSL_memdup(from->id, from->idLen));
        if (!to->id) {
            Cleanup(dst);
            return 0;
        }
    }
    to->idLen = from->idLen;
    to->idSet = from->idSet;
    to->md = from->md;
    return 1;
}

// The key signs the value itself (a digest); the DER signature comes back.
int Sign(EVP_PKEY_CTX*, unsigned char* sig, size_t* sigLen, const unsigned char* tbs, size_t tbsLen) {
    KeyUse use(UKeyManager::GetInstance().KeyInUse());
    UsbKey* key = use.get();
    if (!key) return 0;
    ByteArray digest(tbs, static_cast<unsigned long>(tbsLen));
    ByteArray der;
    if (key->SM2SignDigest(digest, der) != 0) return 0;
    if (sig) {
        if (*sigLen < static_cast<size_t>(der.length())) return 0;
        std::memcpy(sig, der.data(), static_cast<size_t>(der.length()));
    }
    *sigLen = static_cast<size_t>(der.length());
    return 1;
}

int Verify(EVP_PKEY_CTX* ctx, const unsigned char* sig, size_t sigLen, const unsigned char* tbs, size_t tbsLen) {
    // Strict DER: the signature must re-encode to the very same bytes.
    const unsigned char* p = sig;
    ECDSA_SIG* parsed = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(sigLen));
    if (!parsed) return -1;
    unsigned char* der = nullptr;
    int derLen = i2d_ECDSA_SIG(parsed, &der);
    ECDSA_SIG_free(parsed);
    bool strict = derLen == static_cast<int>(sigLen) && std::memcmp(der, sig, sigLen) == 0;
    OPENSSL_free(der);
    if (!strict) return -1;
    unsigned char point[65];
    if (!PublicPoint(ctx, point)) return -1;
    return Sm2VerifyValue(point, sizeof point, sig, sigLen, tbs, tbsLen);
}

int NoOutput(EVP_PKEY_CTX*, unsigned char*, size_t* outLen, const unsigned char*, size_t) {
    *outLen = 0;
    return 1;
}

int Ctrl(EVP_PKEY_CTX* ctx, int type, int p1, void* p2) {
    Sm2Context* data = ContextOf(ctx);
    if (type == EVP_PKEY_CTRL_MD) {
        data->md = static_cast<const EVP_MD*>(p2);
        return 1;
    }
    if (type == kCtrlSetIdLegacy || type == EVP_PKEY_CTRL_SET1_ID) {
        OPENSSL_free(data->id);
        data->id = nullptr;
        data->idLen = 0;
        if (p1 > 0) {
            data->id = static_cast<unsigned char*>(OPENSSL_memdup(p2, static_cast<size_t>(p1)));
            if (!data->id) return 0;
            data->idLen = static_cast<size_t>(p1);
        }
        data->idSet = 1;
        return 1;
    }
    return 1;
}

int CtrlStr(EVP_PKEY_CTX*, const char*, const char*) { return 1; }

int DigestCustom(EVP_PKEY_CTX* ctx, EVP_MD_CTX* mctx) {
    Sm2Context* data = ContextOf(ctx);
    if (!data || !data->idSet) return 0;
    unsigned char point[65];
    unsigned char z[EVP_MAX_MD_SIZE];
    unsigned int zLen = 0;
    const EVP_MD* md = data->md ? data->md : EVP_MD_CTX_get0_md(mctx);
    if (!PublicPoint(ctx, point) || !Sm2IdentityDigest(md, point, sizeof point, data->id, data->idLen, z, &zLen))
        return 0;
    return EVP_DigestUpdate(mctx, z, zLen);
}

EVP_PKEY_METHOD* NewMethod(int type) {
    EVP_PKEY_METHOD* method = EVP_PKEY_meth_new(type, 0);
    if (!method) return nullptr;
    EVP_PKEY_meth_set_init(method, Init);
    EVP_PKEY_meth_set_copy(method, Copy);
    EVP_PKEY_meth_set_cleanup(method, Cleanup);
    EVP_PKEY_meth_set_sign(method, nullptr, Sign);
    EVP_PKEY_meth_set_verify(method, nullptr, Verify);
    EVP_PKEY_meth_set_encrypt(method, nullptr, NoOutput);
    EVP_PKEY_meth_set_decrypt(method, nullptr, NoOutput);
    EVP_PKEY_meth_set_ctrl(method, Ctrl, CtrlStr);
    EVP_PKEY_meth_set_digest_custom(method, DigestCustom);
    return method;
}

}  // namespace

EVP_PKEY_METHOD* KeyBackedSm2Method(int keyType) {
    // Owned here for the life of the process: keys bound to the engine may outlive its removal.
    static EVP_PKEY_METHOD* const ec = NewMethod(EVP_PKEY_EC);
    static EVP_PKEY_METHOD* const sm2 = NewMethod(EVP_PKEY_SM2);
    if (keyType == EVP_PKEY_EC) return ec;
    if (keyType == EVP_PKEY_SM2) return sm2;
    return nullptr;
}

bool Sm2IdentityDigest(const EVP_MD* md, const unsigned char* point, size_t pointLen, const unsigned char* id,
                       size_t idLen, unsigned char* z, unsigned int* zLen) {
    if (idLen >= 8191 || pointLen != 65 || !md) return false;
    EC_GROUP* group = EC_GROUP_new_by_curve_name(NID_sm2);
    BIGNUM *p = BN_new(), *a = BN_new(), *b = BN_new(), *x = BN_new(), *y = BN_new();
    EC_GROUP_get_curve(group, p, a, b, nullptr);
    EC_POINT_get_affine_coordinates(group, EC_GROUP_get0_generator(group), x, y, nullptr);
    int width = BN_num_bytes(p);
    std::vector<unsigned char> buffer(static_cast<size_t>(width));
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    unsigned char entl[2] = {static_cast<unsigned char>((idLen * 8) >> 8), static_cast<unsigned char>(idLen * 8)};
    bool ok = ctx && EVP_DigestInit(ctx, md) == 1 && EVP_DigestUpdate(ctx, entl, 2) == 1 &&
              EVP_DigestUpdate(ctx, id, idLen) == 1;
    for (BIGNUM* value : {a, b, x, y}) {
        ok = ok && BN_bn2binpad(value, buffer.data(), width) == width &&
             EVP_DigestUpdate(ctx, buffer.data(), buffer.size()) == 1;
    }
    ok = ok && EVP_DigestUpdate(ctx, point + 1, 64) == 1 && EVP_DigestFinal(ctx, z, zLen) == 1;
    EVP_MD_CTX_free(ctx);
    BN_free(p);
    BN_free(a);
    BN_free(b);
    BN_free(x);
    BN_free(y);
    EC_GROUP_free(group);
    return ok;
}

int Sm2VerifyValue(const unsigned char* point, size_t pointLen, const unsigned char* sig, size_t sigLen,
                   const unsigned char* e, size_t eLen) {
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, SN_sm2, 0);
    OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, point, pointLen);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* fromData = EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr);
    EVP_PKEY* clean = nullptr;
    int result = -1;
    if (params && fromData && EVP_PKEY_fromdata_init(fromData) == 1 &&
        EVP_PKEY_fromdata(fromData, &clean, EVP_PKEY_PUBLIC_KEY, params) == 1) {
        EVP_PKEY_CTX* verify = EVP_PKEY_CTX_new_from_pkey(nullptr, clean, nullptr);
        if (verify && EVP_PKEY_verify_init(verify) == 1) result = EVP_PKEY_verify(verify, sig, sigLen, e, eLen) == 1 ? 1 : 0;
        EVP_PKEY_CTX_free(verify);
    }
    EVP_PKEY_free(clean);
    EVP_PKEY_CTX_free(fromData);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    return result;
}
