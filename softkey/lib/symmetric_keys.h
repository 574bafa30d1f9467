// Symmetric key handles: SM4 keys set by the caller or made on the key, used by the cipher and
// MAC calls and closed by SKF_CloseHandle.
#pragma once

#include <mutex>

#include "core/sm4_stream.h"
#include "lib/runtime.h"

namespace softkey {

// SAR_OK for the algorithms a key handle takes (SGD_SM4_ECB, SGD_SM4_CBC, SGD_SM4_OFB,
// SGD_SM4_MAC), SAR_NOTSUPPORTYETERR for the SM1 and SSF33 ones, SAR_INVALIDPARAMERR otherwise.
ULONG CheckSymmetricAlg(ULONG algId);

// A new key handle on the key and plug session of `owner` (a device or container handle)
// holding a 16-byte SM4 key; `algId` has passed CheckSymmetricAlg.
HANDLE NewSm4KeyHandle(const Handle& owner, ULONG algId, const uint8_t key[16]);

// State behind a key handle: the key and the cipher operation in progress.
struct SymmetricKey {
    enum class Operation { None, Encrypt, Decrypt };

    std::mutex mutex;
    ULONG algId = 0;
    uint8_t key[16] = {};
    Operation operation = Operation::None;
    Sm4Stream stream;

    ~SymmetricKey();
};

// State behind a MAC handle.
struct MacState {
    std::mutex mutex;
    bool active = false;
    Sm4CbcMac mac;
};

}  // namespace softkey
