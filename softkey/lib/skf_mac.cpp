// MACs on the key: SM4 CBC-MAC under a symmetric key handle.
#include <cstring>

#include "lib/symmetric_keys.h"

using namespace softkey;

namespace {

constexpr ULONG kMacLen = 16;

ULONG ResultCode(Sm4Result r) {
    if (r == Sm4Result::Ok) return SAR_OK;
    return r == Sm4Result::BadLength ? SAR_INDATALENERR : SAR_FAIL;
}

// Adds `in` (when given) and, with `finish`, writes the MAC; runs on a copy of the MAC state that
// replaces it only once the MAC was delivered.
ULONG RunMac(HANDLE hMac, const char* function, const BYTE* in, ULONG inLen, bool finish, BYTE* out,
             ULONG* outLen) {
    return Guarded([&]() -> ULONG {
        Handle h;
        ULONG rc = Enter(hMac, HandleKind::Mac, function, h);
        if (rc != SAR_OK) return rc;
        if ((!in && inLen) || (finish && !outLen)) return SAR_INVALIDPARAMERR;
        MacState& state = *h.mac;
        std::lock_guard<std::mutex> lock(state.mutex);
        if (!state.active) return SAR_NOTINITIALIZEERR;
        if (finish && !out) {
            *outLen = kMacLen;
            return SAR_OK;
        }
        if (finish && *outLen < kMacLen) {
            *outLen = kMacLen;
            return SAR_BUFFER_TOO_SMALL;
        }
        Sm4CbcMac work = state.mac;
        rc = ResultCode(work.Update(in, inLen));
        if (rc != SAR_OK) return rc;
        if (finish) {
            uint8_t mac[kMacLen];
            rc = ResultCode(work.Finish(mac));
            if (rc != SAR_OK) return rc;
            std::memcpy(out, mac, kMacLen);
            *outLen = kMacLen;
            state.active = false;
        }
        state.mac = work;
        return SAR_OK;
    });
}

}  // namespace

SKF_EXPORT ULONG SKF_MacInit(HANDLE hKey, BLOCKCIPHERPARAM* pMacParam, HANDLE* phMac) {
    return Guarded([&]() -> ULONG {
        Handle key;
        ULONG rc = Enter(hKey, HandleKind::SymmetricKey, "SKF_MacInit", key);
        if (rc != SAR_OK) return rc;
        if (!pMacParam || !phMac) return SAR_INVALIDPARAMERR;
        if (pMacParam->PaddingType > 1 || pMacParam->IVLen != 16) return SAR_INVALIDPARAMERR;
        Handle h = key;
        h.kind = HandleKind::Mac;
        h.symmetricKey.reset();
        h.mac = std::make_shared<MacState>();
        {
            std::lock_guard<std::mutex> lock(key.symmetricKey->mutex);
            if (!h.mac->mac.Start(key.symmetricKey->key, pMacParam->IV,
                                  pMacParam->PaddingType == 1))
                return SAR_FAIL;
        }
        h.mac->active = true;
        *phMac = NewHandle(h);
        return SAR_OK;
    });
}

SKF_EXPORT ULONG SKF_Mac(HANDLE hMac, BYTE* pbData, ULONG ulDataLen, BYTE* pbMacData,
                         ULONG* pulMacLen) {
    return RunMac(hMac, "SKF_Mac", pbData, ulDataLen, true, pbMacData, pulMacLen);
}

SKF_EXPORT ULONG SKF_MacUpdate(HANDLE hMac, BYTE* pbData, ULONG ulDataLen) {
    return RunMac(hMac, "SKF_MacUpdate", pbData, ulDataLen, false, nullptr, nullptr);
}

SKF_EXPORT ULONG SKF_MacFinal(HANDLE hMac, BYTE* pbMacData, ULONG* pulMacDataLen) {
    return RunMac(hMac, "SKF_MacFinal", nullptr, 0, true, pbMacData, pulMacDataLen);
}
