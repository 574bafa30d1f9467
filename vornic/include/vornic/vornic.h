/* libvornic: the DER encoding of a PKCS#10 request for an SM2 public key, built in two halves
 * around a signature the caller makes elsewhere (on a USB key).
 *
 *   1. SM2ConstructP10Info builds the to-be-signed part (CertificationRequestInfo).
 *   2. The caller signs those bytes: SM2 with SM3 and the identifier "1234567812345678".
 *   3. SM2ConstructP10 wraps them with the signature into the complete request; called with
 *      `request` null it only reports the size and keeps the to-be-signed buffer.
 *
 * Both return 0 on success and -1 on failure. The to-be-signed buffer belongs to the library:
 * SM2ConstructP10 releases it (and sets *requestInfo to null) once it has written a request. */
#ifndef VORNIC_VORNIC_H
#define VORNIC_VORNIC_H

#include <stdint.h>

/* On Windows the two functions are __stdcall DLL exports. */
#if defined(_WIN32)
#define VORNIC_CALL __stdcall
#if defined(VORNIC_BUILDING_LIBRARY)
#define VORNIC_API __declspec(dllexport)
#else
#define VORNIC_API __declspec(dllimport)
#endif
#else
#define VORNIC_CALL
#if defined(VORNIC_BUILDING_LIBRARY)
#define VORNIC_API __attribute__((visibility("default")))
#else
#define VORNIC_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* `subject`: "CN=...,C=...,O=..." with an optional fourth part "OU=...", in the ANSI code page
 * (TESSAL_ANSI_CODEPAGE, default GBK). `publicKeyX`, `publicKeyY`: 32 bytes each, big-endian. */
VORNIC_API int VORNIC_CALL SM2ConstructP10Info(const char* subject, const unsigned char* publicKeyX,
                                               const unsigned char* publicKeyY,
                                               unsigned char** requestInfo,
                                               int32_t* requestInfoLength);

/* `signatureR`, `signatureS`: 32 bytes each, big-endian. `reserved` is not used. On return
 * `*requestLength` holds the size of the request; `request` must have room for that many bytes. */
VORNIC_API int VORNIC_CALL SM2ConstructP10(unsigned char** requestInfo, int32_t requestInfoLength,
                                           int32_t reserved, const unsigned char* signatureR,
                                           const unsigned char* signatureS, unsigned char* request,
                                           uint32_t* requestLength);

#ifdef __cplusplus
}
#endif

#endif /* VORNIC_VORNIC_H */
