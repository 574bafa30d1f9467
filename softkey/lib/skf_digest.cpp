// Hashing on the key: SM3 (with the identity digest Z when a public key and ID are given),
// SHA-1 and SHA-256.
#include <cstring>

#include "lib/key_blobs.h"
#include "lib/runtime.h"

using namespace softkey;

namespace {

bool DigestAlgOf(ULONG algId, DigestAlg& alg) {
    switch (algId) {
    case SGD_SM3: alg = DigestAlg::Sm3; return true;
    case SGD_SHA1: alg = DigestAlg::Sha1; return true;
    case SGD_SHA256: alg = DigestAlg::Sha256; return true;
    default: return false;
    }
}

}  // namespace

SKF_EXPORT ULONG SKF_DigestInit(DEVHANDLE hDev, ULONG ulAlgID, ECCPUBLICKEYBLOB* pPubKey,
                                unsigned char* pucID, ULONG ulIDLen, HANDLE* phHash) {
    return Guarded([&]() -> ULONG {
        Handle dev;
        ULONG rc = Enter(hDev, HandleKind::Device, "SKF_DigestInit", dev);
        if (rc != SAR_OK) return rc;
        if (!phHash) return SAR_INVALIDPARAMERR;
        DigestAlg alg;
        if (!DigestAlgOf(ulAlgID, alg)) return SAR_NOTSUPPORTYETERR;
        Bytes prefix;
        if (ulAlgID == SGD_SM3 && pPubKey && pucID && ulIDLen > 0) {
            if (pPubKey->BitLen != 256 || ulIDLen > 8191) return SAR_INDATAERR;
            prefix = Sm2Z(Low32(pPubKey->XCoordinate), Low32(pPubKey->YCoordinate), pucID, ulIDLen);
        }
        Handle h = dev;
        h.kind = HandleKind::Hash;
        h.digest = std::make_shared<DigestState>();
        if (!DigestStart(*h.digest, alg, prefix)) return SAR_HASHERR;
        *phHash = NewHandle(h);
        return SAR_OK;
    });
}

SKF_EXPORT ULONG SKF_DigestUpdate(HANDLE hHash, BYTE* pbData, ULONG ulDataLen) {
    return Guarded([&]() -> ULONG {
        Handle h;
        ULONG rc = Enter(hHash, HandleKind::Hash, "SKF_DigestUpdate", h);
        if (rc != SAR_OK) return rc;
        if (!pbData && ulDataLen) return SAR_INVALIDPARAMERR;
        return DigestAdd(*h.digest, pbData, ulDataLen) ? SAR_OK : SAR_HASHERR;
    });
}

SKF_EXPORT ULONG SKF_DigestFinal(HANDLE hHash, BYTE* pHashData, ULONG* pulHashLen) {
    return Guarded([&]() -> ULONG {
        Handle h;
        ULONG rc = Enter(hHash, HandleKind::Hash, "SKF_DigestFinal", h);
        if (rc != SAR_OK) return rc;
        if (!pulHashLen) return SAR_INVALIDPARAMERR;
        ULONG length = static_cast<ULONG>(DigestLength(*h.digest));
        if (!pHashData) {
            *pulHashLen = length;
            return SAR_OK;
        }
        if (*pulHashLen < length) {
            *pulHashLen = length;
            return SAR_BUFFER_TOO_SMALL;
        }
        Bytes out;
        if (!DigestFinish(*h.digest, out)) return SAR_HASHERR;
        std::memcpy(pHashData, out.data(), out.size());
        *pulHashLen = static_cast<ULONG>(out.size());
        return SAR_OK;
    });
}

SKF_EXPORT ULONG SKF_Digest(HANDLE hHash, BYTE* pbData, ULONG ulDataLen, BYTE* pbHashData,
                            ULONG* pulHashLen) {
    return Guarded([&]() -> ULONG {
        Handle h;
        ULONG rc = Enter(hHash, HandleKind::Hash, "SKF_Digest", h);
        if (rc != SAR_OK) return rc;
        if (!pulHashLen || (!pbData && ulDataLen)) return SAR_INVALIDPARAMERR;
        ULONG length = static_cast<ULONG>(DigestLength(*h.digest));
        if (!pbHashData) {
            *pulHashLen = length;
            return SAR_OK;
        }
        if (*pulHashLen < length) {
            *pulHashLen = length;
            return SAR_BUFFER_TOO_SMALL;
        }
        Bytes out;
        if (!DigestAdd(*h.digest, pbData, ulDataLen) || !DigestFinish(*h.digest, out)) return SAR_HASHERR;
        std::memcpy(pbHashData, out.data(), out.size());
        *pulHashLen = static_cast<ULONG>(out.size());
        return SAR_OK;
    });
}

// Hash, symmetric key and MAC handles.
SKF_EXPORT ULONG SKF_CloseHandle(HANDLE hHandle) {
    return Guarded([&]() -> ULONG {
        return CloseHandleOfAny(hHandle,
                                {HandleKind::Hash, HandleKind::SymmetricKey, HandleKind::Mac});
    });
}
