// Symmetric sessions: SM4 keys set by the caller, encryption and decryption in ECB, CBC and OFB.
#include <openssl/crypto.h>

#include "lib/container_access.h"
#include "lib/symmetric_keys.h"

using namespace softkey;

namespace {

using Operation = SymmetricKey::Operation;

enum class Step { Update, Final, Whole };

ULONG ResultCode(Sm4Result r) {
    switch (r) {
        case Sm4Result::Ok:
            return SAR_OK;
        case Sm4Result::BadLength:
            return SAR_INDATALENERR;
        case Sm4Result::BadPadding:
            return SAR_DECRYPTPADERR;
        case Sm4Result::Failed:
            break;
    }
    return SAR_FAIL;
}

ULONG StartOperation(HANDLE hKey, const char* function, const BLOCKCIPHERPARAM& param,
                     Operation operation) {
    return Guarded([&]() -> ULONG {
        Handle h;
        ULONG rc = Enter(hKey, HandleKind::SymmetricKey, function, h);
        if (rc != SAR_OK) return rc;
        SymmetricKey& key = *h.symmetricKey;
        Sm4Mode mode;
        switch (key.algId) {
            case SGD_SM4_ECB:
                mode = Sm4Mode::Ecb;
                break;
            case SGD_SM4_CBC:
                mode = Sm4Mode::Cbc;
                break;
            case SGD_SM4_OFB:
                mode = Sm4Mode::Ofb;
                break;
            default:
                return SAR_KEYUSAGEERR;  // a MAC key
        }
        if (param.PaddingType > 1) return SAR_INVALIDPARAMERR;
        if (mode != Sm4Mode::Ecb && param.IVLen != 16) return SAR_INVALIDPARAMERR;
        if (mode == Sm4Mode::Ofb && param.FeedBitLen != 0 && param.FeedBitLen != 128)
            return SAR_INVALIDPARAMERR;
        std::lock_guard<std::mutex> lock(key.mutex);
        key.operation = Operation::None;
        if (!key.stream.Start(mode, operation == Operation::Encrypt, key.key, param.IV,
                              param.PaddingType == 1))
            return SAR_FAIL;
        key.operation = operation;
        return SAR_OK;
    });
}

// One step of the operation in progress. It runs on a copy of the session, which replaces the
// session only when the output was delivered, so a length query or a short buffer changes nothing.
ULONG RunStep(HANDLE hKey, const char* function, Operation operation, Step step, const BYTE* in,
              ULONG inLen, BYTE* out, ULONG* outLen) {
    return Guarded([&]() -> ULONG {
        Handle h;
        ULONG rc = Enter(hKey, HandleKind::SymmetricKey, function, h);
        if (rc != SAR_OK) return rc;
        if (!outLen || (!in && inLen)) return SAR_INVALIDPARAMERR;
        SymmetricKey& key = *h.symmetricKey;
        std::lock_guard<std::mutex> lock(key.mutex);
        if (key.operation != operation) return SAR_NOTINITIALIZEERR;
        Sm4Stream work = key.stream;
        Bytes result;
        Sm4Result r = Sm4Result::Ok;
        if (step != Step::Final) r = work.Update(in, inLen, result);
        if (r == Sm4Result::Ok && step != Step::Update) r = work.Finish(result);
        rc = ResultCode(r);
        if (rc == SAR_OK && result.size() > 0xFFFFFFFFu) rc = SAR_INDATALENERR;
        if (rc == SAR_OK) rc = WriteBytesOut(result, out, outLen);
        if (rc == SAR_OK && out) {
            key.stream = work;
            if (step != Step::Update) key.operation = Operation::None;
        }
        if (!result.empty()) OPENSSL_cleanse(result.data(), result.size());
        return rc;
    });
}

}  // namespace

SKF_EXPORT ULONG SKF_SetSymmKey(DEVHANDLE hDev, BYTE* pbKey, ULONG ulAlgID, HANDLE* phKey) {
    return Guarded([&]() -> ULONG {
        Handle dev;
        ULONG rc = Enter(hDev, HandleKind::Device, "SKF_SetSymmKey", dev);
        if (rc != SAR_OK) return rc;
        if (!pbKey || !phKey) return SAR_INVALIDPARAMERR;
        rc = CheckSymmetricAlg(ulAlgID);
        if (rc != SAR_OK) return rc;
        *phKey = NewSm4KeyHandle(dev, ulAlgID, pbKey);
        return SAR_OK;
    });
}

SKF_EXPORT ULONG SKF_EncryptInit(HANDLE hKey, BLOCKCIPHERPARAM EncryptParam) {
    return StartOperation(hKey, "SKF_EncryptInit", EncryptParam, Operation::Encrypt);
}

SKF_EXPORT ULONG SKF_Encrypt(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData,
                             ULONG* pulEncryptedLen) {
    return RunStep(hKey, "SKF_Encrypt", Operation::Encrypt, Step::Whole, pbData, ulDataLen,
                   pbEncryptedData, pulEncryptedLen);
}

SKF_EXPORT ULONG SKF_EncryptUpdate(HANDLE hKey, BYTE* pbData, ULONG ulDataLen,
                                   BYTE* pbEncryptedData, ULONG* pulEncryptedLen) {
    return RunStep(hKey, "SKF_EncryptUpdate", Operation::Encrypt, Step::Update, pbData, ulDataLen,
                   pbEncryptedData, pulEncryptedLen);
}

SKF_EXPORT ULONG SKF_EncryptFinal(HANDLE hKey, BYTE* pbEncryptedData, ULONG* pulEncryptedDataLen) {
    return RunStep(hKey, "SKF_EncryptFinal", Operation::Encrypt, Step::Final, nullptr, 0,
                   pbEncryptedData, pulEncryptedDataLen);
}

SKF_EXPORT ULONG SKF_DecryptInit(HANDLE hKey, BLOCKCIPHERPARAM DecryptParam) {
    return StartOperation(hKey, "SKF_DecryptInit", DecryptParam, Operation::Decrypt);
}

SKF_EXPORT ULONG SKF_Decrypt(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData,
                             ULONG* pulDataLen) {
    return RunStep(hKey, "SKF_Decrypt", Operation::Decrypt, Step::Whole, pbEncryptedData,
                   ulEncryptedLen, pbData, pulDataLen);
}

SKF_EXPORT ULONG SKF_DecryptUpdate(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen,
                                   BYTE* pbData, ULONG* pulDataLen) {
    return RunStep(hKey, "SKF_DecryptUpdate", Operation::Decrypt, Step::Update, pbEncryptedData,
                   ulEncryptedLen, pbData, pulDataLen);
}

SKF_EXPORT ULONG SKF_DecryptFinal(HANDLE hKey, BYTE* pbDecryptedData, ULONG* pulDecryptedDataLen) {
    return RunStep(hKey, "SKF_DecryptFinal", Operation::Decrypt, Step::Final, nullptr, 0,
                   pbDecryptedData, pulDecryptedDataLen);
}
