/* A third-party SKF client in C for conformance tests: a key made with the softkey tool in a
 * private store, the library loaded with dlopen, its functions found by name, and checks that
 * count failures instead of stopping. */
#ifndef SKF_C_CLIENT_H
#define SKF_C_CLIENT_H

#include <stdio.h>

#include "skf/skf.h"

/* Counts a failed check and tells where it is. */
extern int g_failures;
#define CHECK(cond)                                                                  \
    do {                                                                             \
        if (!(cond)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++g_failures;                                                            \
        }                                                                            \
    } while (0)
#define CHECK_RC(call, expected)                                                                   \
    do {                                                                                           \
        ULONG rc_ = (call);                                                                        \
        if (rc_ != (ULONG)(expected)) {                                                            \
            fprintf(stderr, "%s:%d: %s gave 0x%08X, expected 0x%08X\n", __FILE__, __LINE__, #call, \
                    (unsigned)rc_, (unsigned)(expected));                                          \
            ++g_failures;                                                                          \
        }                                                                                          \
    } while (0)

/* Makes a private store under $TMPDIR (named to the library by SOFTKEY_STORE) with the softkey
 * tool `cli`; exits with status 1 when it cannot. */
void ClientMakeStore(const char* cli);
/* The directory of that store. */
const char* ClientStore(void);
/* Loads the SKF library `library`; exits with status 1 when it cannot. */
void ClientLoad(const char* library);
/* Makes a private store under $TMPDIR (named to the library by SOFTKEY_STORE), creates and plugs
 * key `serial` there with the softkey tool `cli` (user PIN 12345678), and loads `library`.
 * Exits with status 1 when any step fails. */
void ClientStart(const char* cli, const char* library, const char* serial);
/* Unloads the library and removes the store. */
void ClientFinish(void);
/* The library's function `name`; exits with status 1 when it is missing. */
void* ClientSymbol(const char* name);

/* The standard function pointer type of an SKF function, found by its name. */
#define SKF_FN(name) ((__typeof__(&name))ClientSymbol(#name))

/* Connects to `serial`, opens DEFAULT_APP and logs the user in; exits with status 1 on failure. */
void ClientOpenLoggedIn(const char* serial, DEVHANDLE* dev, HAPPLICATION* app);

/* SOFTKEY_CountOpenHandles over every kind of handle. */
ULONG ClientOpenHandles(void);

#endif
