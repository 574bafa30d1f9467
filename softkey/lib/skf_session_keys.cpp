// Session keys: fresh SM4 keys made on the key and handed out encrypted to a caller's SM2 or RSA
// public key, and session keys wrapped with a container's encryption key taken in. Each gives a
// key handle for the cipher and MAC calls.
#include <cstring>
#include <stdexcept>

#include "lib/container_access.h"
#include "lib/key_blobs.h"
#include "lib/symmetric_keys.h"

using namespace softkey;

namespace {

constexpr size_t kSessionKeyLen = 16;

// A fresh session key, wiped when it goes out of scope.
struct SessionKey {
    uint8_t bytes[kSessionKeyLen];
    SessionKey() {
        if (!RandomBytes(bytes, sizeof bytes)) throw std::runtime_error("no random bytes");
    }
    ~SessionKey() { OPENSSL_cleanse(bytes, sizeof bytes); }
};

// The session key inside an SM2 wrapping (an ECCCIPHERBLOB with its cipher bytes, `len` in all).
ULONG UnwrapWithSm2(EVP_PKEY* key, const BYTE* wrapped, ULONG len, Bytes& session) {
    if (len < ECC_CIPHER_HEADER_LEN) return SAR_INDATALENERR;
    const auto* blob = reinterpret_cast<const ECCCIPHERBLOB*>(wrapped);
    if (blob->CipherLen > len - ECC_CIPHER_HEADER_LEN || blob->CipherLen != kSessionKeyLen)
        return SAR_INDATALENERR;
    return Sm2Decrypt(key, CipherOfBlob(blob), session) ? SAR_OK : SAR_INDATAERR;
}

ULONG UnwrapWithRsa(EVP_PKEY* key, int bits, const BYTE* wrapped, ULONG len, Bytes& session) {
    if (len != static_cast<ULONG>(bits / 8)) return SAR_INDATALENERR;
    return RsaDecrypt(key, wrapped, len, session) ? SAR_OK : SAR_INDATAERR;
}

}  // namespace

// The caller's blob has room for the 16 cipher bytes after its header.
SKF_EXPORT ULONG SKF_ECCExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId,
                                         ECCPUBLICKEYBLOB* pPubKey, PECCCIPHERBLOB pData,
                                         HANDLE* phSessionKey) {
    return Guarded([&]() -> ULONG {
        if (!pPubKey || !pData || !phSessionKey) return SAR_INVALIDPARAMERR;
        ULONG rc = CheckSymmetricAlg(ulAlgId);
        if (rc != SAR_OK) return rc;
        Handle h;
        return ReadContainer(
            hContainer, "SKF_ECCExportSessionKey", h, [&](const Container&) -> ULONG {
                Pkey key = EccBlobKey(*pPubKey);
                if (!key) return SAR_INDATAERR;
                SessionKey session;
                Sm2Cipher cipher;
                if (!Sm2Encrypt(key.get(), session.bytes, sizeof session.bytes, cipher))
                    return SAR_FAIL;
                FillCipherBlob(cipher, pData);
                *phSessionKey = NewSm4KeyHandle(h, ulAlgId, session.bytes);
                return SAR_OK;
            });
    });
}

SKF_EXPORT ULONG SKF_RSAExportSessionKey(HCONTAINER hContainer, ULONG ulAlgId,
                                         RSAPUBLICKEYBLOB* pPubKey, BYTE* pbData, ULONG* pulDataLen,
                                         HANDLE* phSessionKey) {
    return Guarded([&]() -> ULONG {
        if (!pPubKey || !pulDataLen || (pbData && !phSessionKey)) return SAR_INVALIDPARAMERR;
        ULONG rc = CheckSymmetricAlg(ulAlgId);
        if (rc != SAR_OK) return rc;
        Handle h;
        return ReadContainer(
            hContainer, "SKF_RSAExportSessionKey", h, [&](const Container&) -> ULONG {
                Pkey key = RsaBlobKey(*pPubKey);
                if (!key) return SAR_INDATAERR;
                ULONG needed = pPubKey->BitLen / 8;
                // The length is asked first: no key is made until there is room for it.
                if (!pbData || *pulDataLen < needed) {
                    *pulDataLen = needed;
                    return pbData ? SAR_BUFFER_TOO_SMALL : SAR_OK;
                }
                SessionKey session;
                Bytes wrapped;
                if (!RsaEncrypt(key.get(), session.bytes, sizeof session.bytes, wrapped))
                    return SAR_RSAENCERR;
                rc = WriteBytesOut(wrapped, pbData, pulDataLen);
                if (rc == SAR_OK) *phSessionKey = NewSm4KeyHandle(h, ulAlgId, session.bytes);
                return rc;
            });
    });
}

// The session key comes encrypted to the container's encryption key: an ECCCIPHERBLOB for SM2,
// a PKCS#1 v1.5 block for RSA.
SKF_EXPORT ULONG SKF_ImportSessionKey(HCONTAINER hContainer, ULONG ulAlgId, BYTE* pbWrapedData,
                                      ULONG ulWrapedLen, HANDLE* phKey) {
    return Guarded([&]() -> ULONG {
        if (!pbWrapedData || !phKey) return SAR_INVALIDPARAMERR;
        ULONG rc = CheckSymmetricAlg(ulAlgId);
        if (rc != SAR_OK) return rc;
        Handle h;
        return ReadContainer(
            hContainer, "SKF_ImportSessionKey", h, [&](const Container& c) -> ULONG {
                if (!c.encKey) return SAR_KEYNOTFOUNTERR;
                if (!IsLoggedIn(h, USER_TYPE)) return SAR_USER_NOT_LOGIN;
                Pkey key = UnsealPrivate(*c.encKey);
                if (!key) return SAR_FAIL;
                Bytes session;
                ULONG result = c.encKey->alg == KeyAlg::Sm2
                                   ? UnwrapWithSm2(key.get(), pbWrapedData, ulWrapedLen, session)
                                   : UnwrapWithRsa(key.get(), c.encKey->bits, pbWrapedData,
                                                   ulWrapedLen, session);
                if (result == SAR_OK && session.size() != kSessionKeyLen) result = SAR_INDATAERR;
                if (result == SAR_OK) *phKey = NewSm4KeyHandle(h, ulAlgId, session.data());
                OPENSSL_cleanse(session.data(), session.size());
                return result;
            });
    });
}
