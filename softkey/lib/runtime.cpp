#include "lib/runtime.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "core/faults.h"
#include "core/vbus.h"
#include "platform/files.h"

namespace softkey {
namespace {

// Process state is freed only when the library is unloaded or after every exit-time destructor
// has run (callers close their handles from their own destructors at exit).
struct RuntimeState {
    std::mutex handleMutex;
    std::map<uintptr_t, Handle> handles;
    uintptr_t nextHandle = 0x1000;
    std::mutex loginMutex;
    std::map<std::string, std::set<ULONG>> logins;  // "serial|session|app" -> PIN types
};

RuntimeState* g_state = new RuntimeState;

RuntimeState& State() { return *g_state; }

std::string LoginKey(const Handle& h) { return h.serial + "|" + h.session + "|" + h.app; }

// Parsed tokens, reused while their file is unchanged.
struct CachedToken {
    platform::FileStamp stamp;
    std::shared_ptr<const Token> token;  // an immutable snapshot, shared by readers
};
struct TokenCache {
    std::mutex mutex;
    std::map<std::string, CachedToken> tokens;
    std::set<std::string> refusals;  // why keys were refused, each told once on standard error
};

TokenCache* g_tokenCache = new TokenCache;

TokenCache& Cache() { return *g_tokenCache; }

// Calls inside the library now, and whether it is closing: a thread that enters once it is
// closing does not touch the process state.
std::atomic<int> g_callsInside{0};
std::atomic<bool> g_closing{false};

struct CallInside {
    CallInside() { g_callsInside.fetch_add(1); }
    ~CallInside() { g_callsInside.fetch_sub(1); }
};

__attribute__((destructor)) void FreeRuntimeState() {
    if (!CloseLibraryCalls()) return;
    delete g_state;
    g_state = nullptr;
    delete g_tokenCache;
    g_tokenCache = nullptr;
}

// Loads the token, from the cache when its file did not change. Caller holds the store lock.
std::shared_ptr<const Token> LoadCached(const Store& store, const std::string& serial) {
    std::string path = store.TokenPath(serial);
    platform::FileStamp stamp;
    if (!platform::StampFile(path, stamp)) throw std::runtime_error("no key " + serial);
    std::string key = store.Root() + "|" + serial;
    TokenCache& cache = Cache();
    {
        std::lock_guard<std::mutex> lock(cache.mutex);
        auto it = cache.tokens.find(key);
        if (it != cache.tokens.end() && it->second.stamp == stamp) return it->second.token;
    }
    std::shared_ptr<const Token> token;
    try {
        token = std::make_shared<const Token>(store.Load(serial));
    } catch (const std::runtime_error& e) {
        std::lock_guard<std::mutex> lock(cache.mutex);
        if (cache.refusals.insert(e.what()).second) std::fprintf(stderr, "softkey: %s\n", e.what());
        throw;
    }
    std::lock_guard<std::mutex> lock(cache.mutex);
    CachedToken& c = cache.tokens[key];
    c.stamp = stamp;
    c.token = token;
    return token;
}

void ForgetCached(const Store& store, const std::string& serial) {
    TokenCache& cache = Cache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    cache.tokens.erase(store.Root() + "|" + serial);
}

std::string FindLoadedName() {
    return platform::ModuleFileName(reinterpret_cast<const void*>(&FindLoadedName));
}

}  // namespace

Store CurrentStore() { return Store(Store::DefaultRoot()); }

const std::string& LoadedName() {
    static const std::string name = FindLoadedName();
    return name;
}

bool VisibleToThisDriver(const Token& token) {
    if (token.drivers.empty()) return true;
    for (const std::string& d : token.drivers)
        if (d == LoadedName()) return true;
    return false;
}

HANDLE NewHandle(const Handle& handle) {
    RuntimeState& s = State();
    std::lock_guard<std::mutex> lock(s.handleMutex);
    uintptr_t id = s.nextHandle;
    s.nextHandle += 0x10;
    s.handles[id] = handle;
    return reinterpret_cast<HANDLE>(id);
}

ULONG LookupHandle(HANDLE h, HandleKind kind, Handle& out) {
    RuntimeState& s = State();
    std::lock_guard<std::mutex> lock(s.handleMutex);
    auto it = s.handles.find(reinterpret_cast<uintptr_t>(h));
    if (it == s.handles.end() || it->second.kind != kind) return SAR_INVALIDHANDLEERR;
    out = it->second;
    return SAR_OK;
}

ULONG CloseHandleOf(HANDLE h, HandleKind kind) {
    RuntimeState& s = State();
    std::lock_guard<std::mutex> lock(s.handleMutex);
    auto it = s.handles.find(reinterpret_cast<uintptr_t>(h));
    if (it == s.handles.end() || it->second.kind != kind) return SAR_INVALIDHANDLEERR;
    s.handles.erase(it);
    return SAR_OK;
}

ULONG CloseHandleOfAny(HANDLE h, std::initializer_list<HandleKind> kinds) {
    RuntimeState& s = State();
    std::lock_guard<std::mutex> lock(s.handleMutex);
    auto it = s.handles.find(reinterpret_cast<uintptr_t>(h));
    if (it == s.handles.end()) return SAR_INVALIDHANDLEERR;
    for (HandleKind kind : kinds)
        if (it->second.kind == kind) {
            s.handles.erase(it);
            return SAR_OK;
        }
    return SAR_INVALIDHANDLEERR;
}

size_t CountHandles(HandleKind kind) {
    RuntimeState& s = State();
    std::lock_guard<std::mutex> lock(s.handleMutex);
    size_t count = 0;
    for (const auto& entry : s.handles)
        if (entry.second.kind == kind) ++count;
    return count;
}

ULONG CheckPresent(const Store& store, const std::string& serial, const std::string& session) {
    auto current = PluggedSession(store, serial);
    if (!current || *current != session) return SAR_DEVICE_REMOVED;
    return SAR_OK;
}

ULONG InjectedFault(const Store& store, const std::string& serial, const char* function,
                    const std::string& arg) {
    return TakeFault(store, serial, function, arg);
}

ULONG Enter(HANDLE h, HandleKind kind, const char* function, Handle& out, const std::string& arg) {
    ULONG rc = LookupHandle(h, kind, out);
    if (rc != SAR_OK) return rc;
    Store store = CurrentStore();
    rc = CheckPresent(store, out.serial, out.session);
    if (rc != SAR_OK) return rc;
    return InjectedFault(store, out.serial, function, arg);
}

ULONG ReadToken(const std::string& serial, const std::function<ULONG(const Token&)>& op) {
    Store store = CurrentStore();
    Store::Lock lock(store, false);
    if (!store.Exists(serial)) return SAR_DEVICE_REMOVED;
    std::shared_ptr<const Token> token = LoadCached(store, serial);
    return op(*token);
}

ULONG ChangeToken(const std::string& serial, const std::function<ULONG(Token&, bool& changed)>& op) {
    Store store = CurrentStore();
    Store::Lock lock(store, true);
    if (!store.Exists(serial)) return SAR_DEVICE_REMOVED;
    Token token = *LoadCached(store, serial);
    bool changed = false;
    ULONG rc = op(token, changed);
    if (changed) {
        ForgetCached(store, serial);
        store.Save(token);
    }
    return rc;
}

void SetLoggedIn(const Handle& app, ULONG pinType, bool loggedIn) {
    RuntimeState& s = State();
    std::lock_guard<std::mutex> lock(s.loginMutex);
    auto& types = s.logins[LoginKey(app)];
    if (loggedIn)
        types.insert(pinType);
    else
        types.erase(pinType);
}

bool IsLoggedIn(const Handle& h, ULONG pinType) {
    RuntimeState& s = State();
    std::lock_guard<std::mutex> lock(s.loginMutex);
    auto it = s.logins.find(LoginKey(h));
    return it != s.logins.end() && it->second.count(pinType) > 0;
}

void ClearLogin(const Handle& app) {
    RuntimeState& s = State();
    std::lock_guard<std::mutex> lock(s.loginMutex);
    s.logins.erase(LoginKey(app));
}

ULONG WriteNameList(const std::vector<std::string>& names, LPSTR buffer, ULONG* size) {
    if (!size) return SAR_INVALIDPARAMERR;
    std::string list;
    for (const std::string& n : names) {
        list += n;
        list += '\0';
    }
    list += '\0';
    if (names.empty()) list += '\0';
    ULONG needed = static_cast<ULONG>(list.size());
    if (!buffer) {
        *size = needed;
        return SAR_OK;
    }
    if (*size < needed) {
        *size = needed;
        return SAR_BUFFER_TOO_SMALL;
    }
    std::memcpy(buffer, list.data(), list.size());
    *size = needed;
    return SAR_OK;
}

bool CloseLibraryCalls() {
    g_closing.store(true);
    return g_callsInside.load() == 0;
}

ULONG Guarded(const std::function<ULONG()>& body) {
    CallInside inside;
    if (g_closing.load()) return SAR_FAIL;
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return SAR_MEMORYERR;
    } catch (...) {
        return SAR_FAIL;
    }
}

Pkey UnsealPrivate(const KeyPair& pair) {
    Bytes der = Unseal(CurrentStore().StoreKey(), pair.sealedPrivate);
    Pkey key = LoadPrivateKey(der);
    OPENSSL_cleanse(der.data(), der.size());
    return key;
}

KeyPair MakeSealedPair(KeyAlg alg, int bits, const Bytes& publicSpki, const Bytes& privatePkcs8) {
    return SealKeyPair(CurrentStore(), alg, bits, publicSpki, privatePkcs8);
}

}  // namespace softkey
