// Key pairs in containers: generation, enveloped imports, signing, verification, decryption.
#include <cstring>

#include "lib/container_access.h"
#include "lib/key_blobs.h"

using namespace softkey;

namespace {

constexpr size_t kRsaPrivateBlobLen = sizeof(RSAPRIVATEKEYBLOB);
constexpr ULONG kSgdSm2SignatureGmt0006 = 0x00020200;

const std::optional<KeyPair>& KeyOf(const Container& c, BOOL sign) { return sign ? c.signKey : c.encKey; }

// Decrypts an ECC cipher blob (C1 C3 C2 in the blob's fields) with an SM2 private key.
bool DecryptEccBlob(EVP_PKEY* key, const ECCCIPHERBLOB* blob, Bytes& plain) {
    return Sm2Decrypt(key, CipherOfBlob(blob), plain);
}

// SM2 signing as GM/T 0016 numbers it (SGD_SM2_1) and as GM/T 0006 does (0x00020200, which
// GM/T 0016 gives to key exchange); clients of both standards generate signing key pairs.
bool IsSm2SignatureAlg(ULONG algId) { return algId == SGD_SM2_1 || algId == kSgdSm2SignatureGmt0006; }

}  // namespace

SKF_EXPORT ULONG SKF_GenRSAKeyPair(HCONTAINER hContainer, ULONG ulBitsLen, RSAPUBLICKEYBLOB* pBlob) {
    return Guarded([&]() -> ULONG {
        if (!pBlob) return SAR_INVALIDPARAMERR;
        if (ulBitsLen != 1024 && ulBitsLen != 2048 && ulBitsLen != 4096) return SAR_MODULUSLENERR;
        Handle h;
        return ChangeContainer(hContainer, "SKF_GenRSAKeyPair", h, [&](Container& c, bool& changed) -> ULONG {
            if (!IsLoggedIn(h, USER_TYPE)) return SAR_USER_NOT_LOGIN;
            Bytes spki;
            Bytes priv = GenerateKeyPair(KeyAlg::Rsa, static_cast<int>(ulBitsLen), spki);
            c.signKey = MakeSealedPair(KeyAlg::Rsa, static_cast<int>(ulBitsLen), spki, priv);
            OPENSSL_cleanse(priv.data(), priv.size());
            changed = true;
            Bytes blob;
            if (!PublicBlobOf(*c.signKey, blob)) return SAR_GENRSAKEYERR;
            std::memset(pBlob, 0, sizeof *pBlob);
            if (blob.size() == sizeof *pBlob) {
                std::memcpy(pBlob, blob.data(), blob.size());
            } else {
                // A 4096-bit modulus does not fit the standard blob; SKF_ExportPublicKey gives it.
                pBlob->AlgID = SGD_RSA;
                pBlob->BitLen = ulBitsLen;
                std::memcpy(pBlob->PublicExponent, blob.data() + blob.size() - MAX_RSA_EXPONENT_LEN,
                            MAX_RSA_EXPONENT_LEN);
            }
            return SAR_OK;
        });
    });
}

SKF_EXPORT ULONG SKF_GenECCKeyPair(HCONTAINER hContainer, ULONG ulAlgId, ECCPUBLICKEYBLOB* pBlob) {
    return Guarded([&]() -> ULONG {
        if (!pBlob) return SAR_INVALIDPARAMERR;
        if (!IsSm2SignatureAlg(ulAlgId)) return SAR_NOTSUPPORTYETERR;
        Handle h;
        return ChangeContainer(hContainer, "SKF_GenECCKeyPair", h, [&](Container& c, bool& changed) -> ULONG {
            if (!IsLoggedIn(h, USER_TYPE)) return SAR_USER_NOT_LOGIN;
            Bytes spki;
            Bytes priv = GenerateKeyPair(KeyAlg::Sm2, 256, spki);
            c.signKey = MakeSealedPair(KeyAlg::Sm2, 256, spki, priv);
            OPENSSL_cleanse(priv.data(), priv.size());
            changed = true;
            Bytes blob;
            if (!PublicBlobOf(*c.signKey, blob) || blob.size() != sizeof *pBlob) return SAR_FAIL;
            std::memcpy(pBlob, blob.data(), blob.size());
            return SAR_OK;
        });
    });
}

// The encryption key pair arrives as a private key under an SM4 session key, which is itself
// encrypted to the container's SM2 signing key.
SKF_EXPORT ULONG SKF_ImportECCKeyPair(HCONTAINER hContainer, PENVELOPEDKEYBLOB pEnvelopedKeyBlob) {
    return Guarded([&]() -> ULONG {
        if (!pEnvelopedKeyBlob) return SAR_INVALIDPARAMERR;
        const ENVELOPEDKEYBLOB& env = *pEnvelopedKeyBlob;
        if (env.ulSymmAlgID != SGD_SM4_ECB) return SAR_NOTSUPPORTYETERR;
        if (env.ulBits != 256 || env.PubKey.BitLen != 256) return SAR_INDATAERR;
        if (env.ECCCipherBlob.CipherLen != 16) return SAR_INDATALENERR;
        Handle h;
        return ChangeContainer(hContainer, "SKF_ImportECCKeyPair", h, [&](Container& c, bool& changed) -> ULONG {
            if (!IsLoggedIn(h, USER_TYPE)) return SAR_USER_NOT_LOGIN;
            if (!c.signKey || c.signKey->alg != KeyAlg::Sm2) return SAR_KEYNOTFOUNTERR;
            Pkey signKey = UnsealPrivate(*c.signKey);
            Bytes session;
            if (!signKey || !DecryptEccBlob(signKey.get(), &env.ECCCipherBlob, session) ||
                session.size() != 16)
                return SAR_INDATAERR;
            Bytes scalar;
            bool ok = Sm4EcbDecrypt(session.data(), env.cbEncryptedPriKey, 64, scalar);
            OPENSSL_cleanse(session.data(), session.size());
            if (!ok) return SAR_INDATAERR;
            Pkey encKey = Sm2PrivateFromScalar(scalar.data() + 32);
            OPENSSL_cleanse(scalar.data(), scalar.size());
            if (!encKey) return SAR_INDATAERR;
            uint8_t x[32], y[32];
            if (!Sm2PublicPoint(encKey.get(), x, y) || std::memcmp(x, Low32(env.PubKey.XCoordinate), 32) ||
                std::memcmp(y, Low32(env.PubKey.YCoordinate), 32))
                return SAR_INDATAERR;  // the private key does not belong to the given public key
            Bytes priv = PrivateKeyDer(encKey.get());
            c.encKey = MakeSealedPair(KeyAlg::Sm2, 256, PublicKeyDer(encKey.get()), priv);
            OPENSSL_cleanse(priv.data(), priv.size());
            changed = true;
            return SAR_OK;
        });
    });
}

// The session key comes wrapped with the container's RSA signing key; the private key blob is
// encrypted under it with SM4-ECB.
SKF_EXPORT ULONG SKF_ImportRSAKeyPair(HCONTAINER hContainer, ULONG ulSymAlgId, BYTE* pbWrappedKey,
                                      ULONG ulWrappedKeyLen, BYTE* pbEncryptedData,
                                      ULONG ulEncryptedDataLen) {
    return Guarded([&]() -> ULONG {
        if (!pbWrappedKey || !pbEncryptedData) return SAR_INVALIDPARAMERR;
        if (ulSymAlgId != SGD_SM4_ECB) return SAR_NOTSUPPORTYETERR;
        if (ulEncryptedDataLen < kRsaPrivateBlobLen || ulEncryptedDataLen % 16) return SAR_INDATALENERR;
        Handle h;
        return ChangeContainer(hContainer, "SKF_ImportRSAKeyPair", h, [&](Container& c, bool& changed) -> ULONG {
            if (!IsLoggedIn(h, USER_TYPE)) return SAR_USER_NOT_LOGIN;
            if (!c.signKey || c.signKey->alg != KeyAlg::Rsa) return SAR_KEYNOTFOUNTERR;
            Pkey signKey = UnsealPrivate(*c.signKey);
            Bytes session;
            if (!signKey || !RsaDecrypt(signKey.get(), pbWrappedKey, ulWrappedKeyLen, session) ||
                session.size() != 16)
                return SAR_INDATAERR;
            Bytes plain;
            bool ok = Sm4EcbDecrypt(session.data(), pbEncryptedData, ulEncryptedDataLen, plain);
            OPENSSL_cleanse(session.data(), session.size());
            if (!ok) return SAR_INDATAERR;
            RSAPRIVATEKEYBLOB blob;
            std::memcpy(&blob, plain.data(), sizeof blob);
            OPENSSL_cleanse(plain.data(), plain.size());
            Pkey key = RsaPrivateBlobKey(blob);
            OPENSSL_cleanse(&blob, sizeof blob);
            if (!key) return SAR_INDATAERR;
            Bytes priv = PrivateKeyDer(key.get());
            c.encKey = MakeSealedPair(KeyAlg::Rsa, EVP_PKEY_get_bits(key.get()), PublicKeyDer(key.get()), priv);
            OPENSSL_cleanse(priv.data(), priv.size());
            changed = true;
            return SAR_OK;
        });
    });
}

SKF_EXPORT ULONG SKF_RSASignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen,
                                 BYTE* pbSignature, ULONG* pulSignLen) {
    return Guarded([&]() -> ULONG {
        if (!pbData || !pulSignLen) return SAR_INVALIDPARAMERR;
        Handle h;
        return ReadContainer(hContainer, "SKF_RSASignData", h, [&](const Container& c) -> ULONG {
            if (!c.signKey || c.signKey->alg != KeyAlg::Rsa) return SAR_KEYNOTFOUNTERR;
            ULONG sigLen = static_cast<ULONG>(c.signKey->bits / 8);
            // Up to k-11 bytes are padded here; a block of exactly k bytes is taken as padded.
            if (ulDataLen == 0 || (ulDataLen > sigLen - 11 && ulDataLen != sigLen)) return SAR_INDATALENERR;
            if (!pbSignature) {
                *pulSignLen = sigLen;
                return SAR_OK;
            }
            if (*pulSignLen < sigLen) {
                *pulSignLen = sigLen;
                return SAR_BUFFER_TOO_SMALL;
            }
            if (!IsLoggedIn(h, USER_TYPE)) return SAR_USER_NOT_LOGIN;
            Pkey key = UnsealPrivate(*c.signKey);
            Bytes sig;
            if (!key || !RsaSignRaw(key.get(), pbData, ulDataLen, sig)) return SAR_RSAENCERR;
            return WriteBytesOut(sig, pbSignature, pulSignLen);
        });
    });
}

SKF_EXPORT ULONG SKF_RSAVerify(DEVHANDLE hDev, RSAPUBLICKEYBLOB* pRSAPubKeyBlob, BYTE* pbData,
                               ULONG ulDataLen, BYTE* pbSignature, ULONG ulSignLen) {
    return Guarded([&]() -> ULONG {
        Handle dev;
        ULONG rc = Enter(hDev, HandleKind::Device, "SKF_RSAVerify", dev);
        if (rc != SAR_OK) return rc;
        if (!pRSAPubKeyBlob || !pbData || !pbSignature) return SAR_INVALIDPARAMERR;
        Pkey key = RsaBlobKey(*pRSAPubKeyBlob);
        if (!key) return SAR_INDATAERR;
        return RsaVerifyRaw(key.get(), pbData, ulDataLen, pbSignature, ulSignLen) ? SAR_OK : SAR_FAIL;
    });
}

SKF_EXPORT ULONG SKF_ECCSignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen,
                                 PECCSIGNATUREBLOB pSignature) {
    return Guarded([&]() -> ULONG {
        if (!pbData || !pSignature) return SAR_INVALIDPARAMERR;
        if (ulDataLen != 32) return SAR_INDATALENERR;
        Handle h;
        return ReadContainer(hContainer, "SKF_ECCSignData", h, [&](const Container& c) -> ULONG {
            if (!c.signKey || c.signKey->alg != KeyAlg::Sm2) return SAR_KEYNOTFOUNTERR;
            if (!IsLoggedIn(h, USER_TYPE)) return SAR_USER_NOT_LOGIN;
            Pkey key = UnsealPrivate(*c.signKey);
            uint8_t r[32], s[32];
            if (!key || !Sm2SignDigest(key.get(), pbData, ulDataLen, r, s)) return SAR_FAIL;
            std::memset(pSignature, 0, sizeof *pSignature);
            std::memcpy(pSignature->r + 32, r, 32);
            std::memcpy(pSignature->s + 32, s, 32);
            return SAR_OK;
        });
    });
}

static ULONG VerifyEcc(ECCPUBLICKEYBLOB* pub, BYTE* data, ULONG len, PECCSIGNATUREBLOB sig) {
    if (!pub || !data || !sig) return SAR_INVALIDPARAMERR;
    if (len != 32) return SAR_INDATALENERR;
    Pkey key = EccBlobKey(*pub);
    if (!key) return SAR_INDATAERR;
    return Sm2VerifyDigest(key.get(), data, len, Low32(sig->r), Low32(sig->s)) ? SAR_OK : SAR_FAIL;
}

SKF_EXPORT ULONG SKF_ECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData,
                               ULONG ulDataLen, PECCSIGNATUREBLOB pSignature) {
    return Guarded([&]() -> ULONG {
        Handle dev;
        ULONG rc = Enter(hDev, HandleKind::Device, "SKF_ECCVerify", dev);
        if (rc != SAR_OK) return rc;
        return VerifyEcc(pECCPubKeyBlob, pbData, ulDataLen, pSignature);
    });
}

SKF_EXPORT ULONG SKF_ExtECCVerify(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob, BYTE* pbData,
                                  ULONG ulDataLen, PECCSIGNATUREBLOB pSignature) {
    return Guarded([&]() -> ULONG {
        Handle dev;
        ULONG rc = Enter(hDev, HandleKind::Device, "SKF_ExtECCVerify", dev);
        if (rc != SAR_OK) return rc;
        return VerifyEcc(pECCPubKeyBlob, pbData, ulDataLen, pSignature);
    });
}

// The caller provides room for the cipher bytes after the blob's header.
SKF_EXPORT ULONG SKF_ExtECCEncrypt(DEVHANDLE hDev, ECCPUBLICKEYBLOB* pECCPubKeyBlob,
                                   BYTE* pbPlainText, ULONG ulPlainTextLen, PECCCIPHERBLOB pCipherText) {
    return Guarded([&]() -> ULONG {
        Handle dev;
        ULONG rc = Enter(hDev, HandleKind::Device, "SKF_ExtECCEncrypt", dev);
        if (rc != SAR_OK) return rc;
        if (!pECCPubKeyBlob || !pbPlainText || !pCipherText || ulPlainTextLen == 0) return SAR_INVALIDPARAMERR;
        Pkey key = EccBlobKey(*pECCPubKeyBlob);
        Sm2Cipher cipher;
        if (!key || !Sm2Encrypt(key.get(), pbPlainText, ulPlainTextLen, cipher)) return SAR_FAIL;
        FillCipherBlob(cipher, pCipherText);
        return SAR_OK;
    });
}

SKF_EXPORT ULONG SKF_ECCDecrypt(HCONTAINER hContainer, BOOL bSignFlag, PECCCIPHERBLOB pCipherText,
                                BYTE* pbPlainText, ULONG* pulPlainTextLen) {
    return Guarded([&]() -> ULONG {
        if (!pCipherText || !pulPlainTextLen) return SAR_INVALIDPARAMERR;
        if (pCipherText->CipherLen == 0) return SAR_INDATALENERR;
        Handle h;
        return ReadContainer(hContainer, "SKF_ECCDecrypt", h, [&](const Container& c) -> ULONG {
            const std::optional<KeyPair>& pair = KeyOf(c, bSignFlag);
            if (!pair || pair->alg != KeyAlg::Sm2) return SAR_KEYNOTFOUNTERR;
            if (!IsLoggedIn(h, USER_TYPE)) return SAR_USER_NOT_LOGIN;
            if (pbPlainText && *pulPlainTextLen < pCipherText->CipherLen) {
                *pulPlainTextLen = pCipherText->CipherLen;
                return SAR_BUFFER_TOO_SMALL;
            }
            Pkey key = UnsealPrivate(*pair);
            Bytes plain;
            if (!key || !DecryptEccBlob(key.get(), pCipherText, plain)) return SAR_INDATAERR;
            ULONG rc = WriteBytesOut(plain, pbPlainText, pulPlainTextLen);
            OPENSSL_cleanse(plain.data(), plain.size());
            return rc;
        });
    });
}

SKF_EXPORT ULONG SKF_RSADecrypt(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbIn, ULONG ulInLen,
                                BYTE* pbOut, ULONG* pulOutLen) {
    return Guarded([&]() -> ULONG {
        if (!pbIn || !pulOutLen) return SAR_INVALIDPARAMERR;
        Handle h;
        return ReadContainer(hContainer, "SKF_RSADecrypt", h, [&](const Container& c) -> ULONG {
            const std::optional<KeyPair>& pair = KeyOf(c, bSignFlag);
            if (!pair || pair->alg != KeyAlg::Rsa) return SAR_KEYNOTFOUNTERR;
            if (ulInLen != static_cast<ULONG>(pair->bits / 8)) return SAR_INDATALENERR;
            if (!IsLoggedIn(h, USER_TYPE)) return SAR_USER_NOT_LOGIN;
            Pkey key = UnsealPrivate(*pair);
            Bytes plain;
            if (!key || !RsaDecrypt(key.get(), pbIn, ulInLen, plain)) return SAR_RSADECERR;
            ULONG rc = WriteBytesOut(plain, pbOut, pulOutLen);
            OPENSSL_cleanse(plain.data(), plain.size());
            return rc;
        });
    });
}
