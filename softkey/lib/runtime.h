// Shared machinery of the SKF entry points: handles, sessions, token access, faults.
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

#include "core/model.h"
#include "core/softcrypto.h"
#include "core/store.h"
#include "skf/skf.h"

#if defined(_WIN32)
#define SKF_EXPORT extern "C" __declspec(dllexport)
#else
#define SKF_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace softkey {

enum class HandleKind { Device, Application, Container, Hash, SymmetricKey, Mac };

struct SymmetricKey;  // lib/symmetric_keys.h
struct MacState;

struct Handle {
    HandleKind kind = HandleKind::Device;
    std::string serial;
    std::string session;  // plug session the handle was opened in
    std::string app;
    std::string container;
    std::shared_ptr<DigestState> digest;
    std::shared_ptr<SymmetricKey> symmetricKey;
    std::shared_ptr<MacState> mac;
};

// The store named by SOFTKEY_STORE (or the default) at the time of the call.
Store CurrentStore();

// File name this copy of the library was loaded under (for example "SKF_APP.dll").
const std::string& LoadedName();
bool VisibleToThisDriver(const Token& token);

HANDLE NewHandle(const Handle& handle);
// SAR_OK and the record, or SAR_INVALIDHANDLEERR.
ULONG LookupHandle(HANDLE h, HandleKind kind, Handle& out);
ULONG CloseHandleOf(HANDLE h, HandleKind kind);
// Closes a handle of any of `kinds`; SAR_INVALIDHANDLEERR when it is none of them.
ULONG CloseHandleOfAny(HANDLE h, std::initializer_list<HandleKind> kinds);
// Handles of this process still open, of one kind.
size_t CountHandles(HandleKind kind);

// Resolves `h`, checks the key is still plugged in the handle's session and applies injected
// faults for `function` (with `arg` naming the object of the call).
ULONG Enter(HANDLE h, HandleKind kind, const char* function, Handle& out,
            const std::string& arg = std::string());

// SAR_DEVICE_REMOVED unless the key is plugged in `session`.
ULONG CheckPresent(const Store& store, const std::string& serial, const std::string& session);
ULONG InjectedFault(const Store& store, const std::string& serial, const char* function,
                    const std::string& arg);

// Runs `op` on the key's current state under the store lock (shared for reads).
ULONG ReadToken(const std::string& serial, const std::function<ULONG(const Token&)>& op);
// Runs `op` under the exclusive lock; the token is saved durably when op sets `changed`.
ULONG ChangeToken(const std::string& serial, const std::function<ULONG(Token&, bool& changed)>& op);

// Login state of an application in one plug session, kept by this process.
void SetLoggedIn(const Handle& app, ULONG pinType, bool loggedIn);
bool IsLoggedIn(const Handle& appOrContainer, ULONG pinType);
void ClearLogin(const Handle& app);

// Writes a NUL-separated, double-NUL-ended list with the length rule of the interface.
ULONG WriteNameList(const std::vector<std::string>& names, LPSTR buffer, ULONG* size);

// Runs an entry point body, turning any exception into SAR_FAIL.
ULONG Guarded(const std::function<ULONG()>& body);
// For the library's destructors: from now on calls entering the library fail without touching
// its state. True when no call is inside, so the state may be freed; false when the process
// exits while another thread is in a call (the state is then left to the exiting process).
bool CloseLibraryCalls();

// Unseals and loads the private key of a key pair.
Pkey UnsealPrivate(const KeyPair& pair);
KeyPair MakeSealedPair(KeyAlg alg, int bits, const Bytes& publicSpki, const Bytes& privatePkcs8);

}  // namespace softkey
