// Operations with keys the caller holds in the clear: SM2 decryption and signing with an
// ECCPRIVATEKEYBLOB, RSA key generation into an RSAPRIVATEKEYBLOB and the bare RSA operations.
#include <cstring>

#include "lib/container_access.h"
#include "lib/key_blobs.h"

using namespace softkey;

namespace {

// A block for the bare RSA operation: exactly the modulus length and below the modulus.
ULONG CheckRsaBlock(const BYTE* modulusField, ULONG bitLen, const BYTE* in, ULONG inLen) {
    ULONG bytes = bitLen / 8;
    if (inLen != bytes) return SAR_INDATALENERR;
    const BYTE* modulus = modulusField + MAX_RSA_MODULUS_LEN - bytes;
    return std::memcmp(in, modulus, bytes) < 0 ? SAR_OK : SAR_INDATAERR;
}

// Runs the bare RSA operation and writes the result with the interface's length rule.
ULONG RsaBlockOperation(EVP_PKEY* key, bool usePrivate, const BYTE* in, ULONG inLen, BYTE* out,
                        ULONG* outLen) {
    if (!out) {
        *outLen = inLen;
        return SAR_OK;
    }
    if (*outLen < inLen) {
        *outLen = inLen;
        return SAR_BUFFER_TOO_SMALL;
    }
    Bytes result;
    bool ok =
        usePrivate ? RsaRawPrivate(key, in, inLen, result) : RsaRawPublic(key, in, inLen, result);
    if (!ok || result.size() != inLen) return usePrivate ? SAR_RSADECERR : SAR_RSAENCERR;
    ULONG rc = WriteBytesOut(result, out, outLen);
    OPENSSL_cleanse(result.data(), result.size());
    return rc;
}

ULONG EnterDevice(DEVHANDLE hDev, const char* function) {
    Handle dev;
    return Enter(hDev, HandleKind::Device, function, dev);
}

}  // namespace

SKF_EXPORT ULONG SKF_GenExtRSAKey(DEVHANDLE hDev, ULONG ulBitsLen, RSAPRIVATEKEYBLOB* pBlob) {
    return Guarded([&]() -> ULONG {
        ULONG rc = EnterDevice(hDev, "SKF_GenExtRSAKey");
        if (rc != SAR_OK) return rc;
        if (!pBlob) return SAR_INVALIDPARAMERR;
        // The private-key blob holds moduli of up to 2048 bits.
        if (ulBitsLen != 1024 && ulBitsLen != 2048) return SAR_MODULUSLENERR;
        Bytes spki;
        Bytes priv = GenerateKeyPair(KeyAlg::Rsa, static_cast<int>(ulBitsLen), spki);
        Pkey key = LoadPrivateKey(priv);
        OPENSSL_cleanse(priv.data(), priv.size());
        if (!key || !FillRsaPrivateBlob(key.get(), *pBlob)) return SAR_GENRSAKEYERR;
        return SAR_OK;
    });
}

SKF_EXPORT ULONG SKF_ExtRSAPubKeyOperation(DEVHANDLE hDev, RSAPUBLICKEYBLOB* pRSAPubKeyBlob,
                                           BYTE* pbInput, ULONG ulInputLen, BYTE* pbOutput,
                                           ULONG* pulOutputLen) {
    return Guarded([&]() -> ULONG {
        ULONG rc = EnterDevice(hDev, "SKF_ExtRSAPubKeyOperation");
        if (rc != SAR_OK) return rc;
        if (!pRSAPubKeyBlob || !pbInput || !pulOutputLen) return SAR_INVALIDPARAMERR;
        Pkey key = RsaBlobKey(*pRSAPubKeyBlob);
        if (!key) return SAR_INDATAERR;
        rc = CheckRsaBlock(pRSAPubKeyBlob->Modulus, pRSAPubKeyBlob->BitLen, pbInput, ulInputLen);
        if (rc != SAR_OK) return rc;
        return RsaBlockOperation(key.get(), false, pbInput, ulInputLen, pbOutput, pulOutputLen);
    });
}

SKF_EXPORT ULONG SKF_ExtRSAPriKeyOperation(DEVHANDLE hDev, RSAPRIVATEKEYBLOB* pRSAPriKeyBlob,
                                           BYTE* pbInput, ULONG ulInputLen, BYTE* pbOutput,
                                           ULONG* pulOutputLen) {
    return Guarded([&]() -> ULONG {
        ULONG rc = EnterDevice(hDev, "SKF_ExtRSAPriKeyOperation");
        if (rc != SAR_OK) return rc;
        if (!pRSAPriKeyBlob || !pbInput || !pulOutputLen) return SAR_INVALIDPARAMERR;
        Pkey key = RsaPrivateBlobKey(*pRSAPriKeyBlob);
        if (!key) return SAR_INDATAERR;
        rc = CheckRsaBlock(pRSAPriKeyBlob->Modulus, pRSAPriKeyBlob->BitLen, pbInput, ulInputLen);
        if (rc != SAR_OK) return rc;
        return RsaBlockOperation(key.get(), true, pbInput, ulInputLen, pbOutput, pulOutputLen);
    });
}

SKF_EXPORT ULONG SKF_ExtECCSign(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob, BYTE* pbData,
                                ULONG ulDataLen, PECCSIGNATUREBLOB pSignature) {
    return Guarded([&]() -> ULONG {
        ULONG rc = EnterDevice(hDev, "SKF_ExtECCSign");
        if (rc != SAR_OK) return rc;
        if (!pECCPriKeyBlob || !pbData || !pSignature) return SAR_INVALIDPARAMERR;
        if (ulDataLen != 32) return SAR_INDATALENERR;
        Pkey key = EccPrivateBlobKey(*pECCPriKeyBlob);
        if (!key) return SAR_INDATAERR;
        uint8_t r[32], s[32];
        if (!Sm2SignDigest(key.get(), pbData, ulDataLen, r, s)) return SAR_FAIL;
        std::memset(pSignature, 0, sizeof *pSignature);
        std::memcpy(pSignature->r + 32, r, 32);
        std::memcpy(pSignature->s + 32, s, 32);
        return SAR_OK;
    });
}

SKF_EXPORT ULONG SKF_ExtECCDecrypt(DEVHANDLE hDev, ECCPRIVATEKEYBLOB* pECCPriKeyBlob,
                                   PECCCIPHERBLOB pCipherText, BYTE* pbPlainText,
                                   ULONG* pulPlainTextLen) {
    return Guarded([&]() -> ULONG {
        ULONG rc = EnterDevice(hDev, "SKF_ExtECCDecrypt");
        if (rc != SAR_OK) return rc;
        if (!pECCPriKeyBlob || !pCipherText || !pulPlainTextLen) return SAR_INVALIDPARAMERR;
        ULONG cipherLen = pCipherText->CipherLen;
        if (cipherLen == 0 || cipherLen > kMaxEccCipherLen) return SAR_INDATALENERR;
        Pkey key = EccPrivateBlobKey(*pECCPriKeyBlob);
        if (!key) return SAR_INDATAERR;
        if (!pbPlainText) {
            *pulPlainTextLen = cipherLen;
            return SAR_OK;
        }
        if (*pulPlainTextLen < cipherLen) {
            *pulPlainTextLen = cipherLen;
            return SAR_BUFFER_TOO_SMALL;
        }
        Bytes plain;
        if (!Sm2Decrypt(key.get(), CipherOfBlob(pCipherText), plain)) return SAR_INDATAERR;
        rc = WriteBytesOut(plain, pbPlainText, pulPlainTextLen);
        OPENSSL_cleanse(plain.data(), plain.size());
        return rc;
    });
}
