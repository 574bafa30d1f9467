// The table of SKF functions resolved from a vendor library, in resolution order.
#pragma once

#include "skf/skf.h"

// Vendor hashing-and-signing extensions whose argument lists are not relied on.
using SkfUnusedFunction = ULONG();

// X(member, exported name, type)
#define TESSAL_SKF_FUNCTIONS(X)                                                          \
    X(SKF_WaitForDevEvent, "SKF_WaitForDevEvent", decltype(::SKF_WaitForDevEvent))         \
    X(SKF_CancelWaitForDevEvent, "SKFCancelWaitForDevEvent", decltype(::SKF_CancelWaitForDevEvent)) \
    X(SKF_EnumDev, "SKF_EnumDev", decltype(::SKF_EnumDev))                                 \
    X(SKF_ConnectDev, "SKF_ConnectDev", decltype(::SKF_ConnectDev))                        \
    X(SKF_DisConnectDev, "SKF_DisConnectDev", decltype(::SKF_DisConnectDev))               \
    X(SKF_GetDevState, "SKF_GetDevState", decltype(::SKF_GetDevState))                     \
    X(SKF_SetLabel, "SKF_SetLabel", decltype(::SKF_SetLabel))                              \
    X(SKF_GetDevInfo, "SKF_GetDevInfo", decltype(::SKF_GetDevInfo))                        \
    X(SKF_LockDev, "SKF_LockDev", decltype(::SKF_LockDev))                                 \
    X(SKF_UnlockDev, "SKF_UnlockDev", decltype(::SKF_UnlockDev))                           \
    X(SKF_Transmit, "SKF_Transmit", decltype(::SKF_Transmit))                              \
    X(SKF_ChangeDevAuthKey, "SKF_ChangeDevAuthKey", decltype(::SKF_ChangeDevAuthKey))      \
    X(SKF_DevAuth, "SKF_DevAuth", decltype(::SKF_DevAuth))                                 \
    X(SKF_ChangePIN, "SKF_ChangePIN", decltype(::SKF_ChangePIN))                           \
    X(SKF_GetPINInfo, "SKF_GetPINInfo", decltype(::SKF_GetPINInfo))                        \
    X(SKF_VerifyPIN, "SKF_VerifyPIN", decltype(::SKF_VerifyPIN))                           \
    X(SKF_UnblockPIN, "SKF_UnblockPIN", decltype(::SKF_UnblockPIN))                        \
    X(SKF_ClearSecureState, "SKF_ClearSecureState", decltype(::SKF_ClearSecureState))      \
    X(SKF_CreateApplication, "SKF_CreateApplication", decltype(::SKF_CreateApplication))   \
    X(SKF_EnumApplication, "SKF_EnumApplication", decltype(::SKF_EnumApplication))         \
    X(SKF_DeleteApplication, "SKF_DeleteApplication", decltype(::SKF_DeleteApplication))   \
    X(SKF_OpenApplication, "SKF_OpenApplication", decltype(::SKF_OpenApplication))         \
    X(SKF_CloseApplication, "SKF_CloseApplication", decltype(::SKF_CloseApplication))      \
    X(SKF_CreateFile, "SKF_CreateFile", decltype(::SKF_CreateFile))                        \
    X(SKF_DeleteFile, "SKF_DeleteFile", decltype(::SKF_DeleteFile))                        \
    X(SKF_EnumFiles, "SKF_EnumFiles", decltype(::SKF_EnumFiles))                           \
    X(SKF_GetFileInfo, "SKF_GetFileInfo", decltype(::SKF_GetFileInfo))                     \
    X(SKF_ReadFile, "SKF_ReadFile", decltype(::SKF_ReadFile))                              \
    X(SKF_WriteFile, "SKF_WriteFile", decltype(::SKF_WriteFile))                           \
    X(SKF_CreateContainer, "SKF_CreateContainer", decltype(::SKF_CreateContainer))         \
    X(SKF_DeleteContainer, "SKF_DeleteContainer", decltype(::SKF_DeleteContainer))         \
    X(SKF_OpenContainer, "SKF_OpenContainer", decltype(::SKF_OpenContainer))               \
    X(SKF_CloseContainer, "SKF_CloseContainer", decltype(::SKF_CloseContainer))            \
    X(SKF_EnumContainer, "SKF_EnumContainer", decltype(::SKF_EnumContainer))               \
    X(SKF_GetContainerType, "SKF_GetContainerType", decltype(::SKF_GetContainerType))      \
    X(SKF_ImportCertificate, "SKF_ImportCertificate", decltype(::SKF_ImportCertificate))   \
    X(SKF_ExportCertificate, "SKF_ExportCertificate", decltype(::SKF_ExportCertificate))   \
    X(SKF_GenRandom, "SKF_GenRandom", decltype(::SKF_GenRandom))                           \
    X(SKF_GenRSAKeyPair, "SKF_GenRSAKeyPair", decltype(::SKF_GenRSAKeyPair))               \
    X(SKF_GenExtRSAKey, "SKF_GenExtRSAKey", decltype(::SKF_GenExtRSAKey))                  \
    X(SKF_ImportRSAKeyPair, "SKF_ImportRSAKeyPair", decltype(::SKF_ImportRSAKeyPair))      \
    X(SKF_RSASignData, "SKF_RSASignData", decltype(::SKF_RSASignData))                     \
    X(SKF_RSAVerify, "SKF_RSAVerify", decltype(::SKF_RSAVerify))                           \
    X(SKF_RSAExportSessionKey, "SKF_RSAExportSessionKey", decltype(::SKF_RSAExportSessionKey)) \
    X(SKF_ExtRSAPubKeyOperation, "SKF_ExtRSAPubKeyOperation", decltype(::SKF_ExtRSAPubKeyOperation)) \
    X(SKF_GenECCKeyPair, "SKF_GenECCKeyPair", decltype(::SKF_GenECCKeyPair))               \
    X(SKF_ImportECCKeyPair, "SKF_ImportECCKeyPair", decltype(::SKF_ImportECCKeyPair))      \
    X(SKF_ECCSignData, "SKF_ECCSignData", decltype(::SKF_ECCSignData))                     \
    X(SKF_ECCVerify, "SKF_ECCVerify", decltype(::SKF_ECCVerify))                           \
    X(SKF_ECCExportSessionKey, "SKF_ECCExportSessionKey", decltype(::SKF_ECCExportSessionKey)) \
    X(SKF_ExtECCEncrypt, "SKF_ExtECCEncrypt", decltype(::SKF_ExtECCEncrypt))               \
    X(SKF_ExtECCVerify, "SKF_ExtECCVerify", decltype(::SKF_ExtECCVerify))                  \
    X(SKF_GenerateAgreementDataWithECC, "SKF_GenerateAgreementDataWithECC",             \
      decltype(::SKF_GenerateAgreementDataWithECC))                                        \
    X(SKF_GenerateKeyWithECC, "SKF_GenerateKeyWithECC", decltype(::SKF_GenerateKeyWithECC)) \
    X(SKF_GenerateAgreementDataAndKeyWithECC, "SKF_GenerateAgreementDataAndKeyWithECC",   \
      decltype(::SKF_GenerateAgreementDataAndKeyWithECC))                                  \
    X(SKF_ExportPublicKey, "SKF_ExportPublicKey", decltype(::SKF_ExportPublicKey))         \
    X(SKF_ImportSessionKey, "SKF_ImportSessionKey", decltype(::SKF_ImportSessionKey))      \
    X(SKF_SetSymmKey, "SKF_SetSymmKey", decltype(::SKF_SetSymmKey))                        \
    X(SKF_EncryptInit, "SKF_EncryptInit", decltype(::SKF_EncryptInit))                     \
    X(SKF_Encrypt, "SKF_Encrypt", decltype(::SKF_Encrypt))                                 \
    X(SKF_EncryptUpdate, "SKF_EncryptUpdate", decltype(::SKF_EncryptUpdate))               \
    X(SKF_EncryptFinal, "SKF_EncryptFinal", decltype(::SKF_EncryptFinal))                  \
    X(SKF_DecryptInit, "SKF_DecryptInit", decltype(::SKF_DecryptInit))                     \
    X(SKF_Decrypt, "SKF_Decrypt", decltype(::SKF_Decrypt))                                 \
    X(SKF_DecryptUpdate, "SKF_DecryptUpdate", decltype(::SKF_DecryptUpdate))               \
    X(SKF_DecryptFinal, "SKF_DecryptFinal", decltype(::SKF_DecryptFinal))                  \
    X(SKF_DigestInit, "SKF_DigestInit", decltype(::SKF_DigestInit))                        \
    X(SKF_Digest, "SKF_Digest", decltype(::SKF_Digest))                                    \
    X(SKF_DigestUpdate, "SKF_DigestUpdate", decltype(::SKF_DigestUpdate))                  \
    X(SKF_DigestFinal, "SKF_DigestFinal", decltype(::SKF_DigestFinal))                     \
    X(SKF_MacInit, "SKF_MacInit", decltype(::SKF_MacInit))                                 \
    X(SKF_Mac, "SKF_Mac", decltype(::SKF_Mac))                                             \
    X(SKF_MacUpdate, "SKF_MacUpdate", decltype(::SKF_MacUpdate))                           \
    X(SKF_MacFinal, "SKF_MacFinal", decltype(::SKF_MacFinal))                              \
    X(SKF_CloseHandle, "SKF_CloseHandle", decltype(::SKF_CloseHandle))                     \
    X(SKF_ECCDecrypt, "SKF_ECCDecrypt", decltype(::SKF_ECCDecrypt))                        \
    X(SKF_RSADecrypt, "SKF_RSADecrypt", decltype(::SKF_RSADecrypt))                        \
    X(SKF_RSASignHash, "SKF_RSASignHash", SkfUnusedFunction)                             \
    X(SKF_ECCSignHash, "SKF_ECCSignHash", SkfUnusedFunction)

struct SkfFunctionList {
#define TESSAL_SKF_MEMBER(member, symbol, type) type* member = nullptr;
    TESSAL_SKF_FUNCTIONS(TESSAL_SKF_MEMBER)
#undef TESSAL_SKF_MEMBER
};
