#include "lib/symmetric_keys.h"

#include <openssl/crypto.h>

#include <cstring>

namespace softkey {

ULONG CheckSymmetricAlg(ULONG algId) {
    switch (algId) {
        case SGD_SM4_ECB:
        case SGD_SM4_CBC:
        case SGD_SM4_OFB:
        case SGD_SM4_MAC:
            return SAR_OK;
        case SGD_SM1_ECB:
        case SGD_SM1_CBC:
        case SGD_SM1_CFB:
        case SGD_SM1_OFB:
        case SGD_SM1_MAC:
        case SGD_SSF33_ECB:
        case SGD_SSF33_CBC:
        case SGD_SSF33_CFB:
        case SGD_SSF33_OFB:
        case SGD_SSF33_MAC:
        case SGD_SM4_CFB:
            return SAR_NOTSUPPORTYETERR;
        default:
            return SAR_INVALIDPARAMERR;
    }
}

HANDLE NewSm4KeyHandle(const Handle& owner, ULONG algId, const uint8_t key[16]) {
    Handle h;
    h.kind = HandleKind::SymmetricKey;
    h.serial = owner.serial;
    h.session = owner.session;
    h.app = owner.app;
    h.container = owner.container;
    h.symmetricKey = std::make_shared<SymmetricKey>();
    h.symmetricKey->algId = algId;
    std::memcpy(h.symmetricKey->key, key, sizeof h.symmetricKey->key);
    return NewHandle(h);
}

SymmetricKey::~SymmetricKey() { OPENSSL_cleanse(key, sizeof key); }

}  // namespace softkey
