// Device authentication: the caller encrypts the device's challenge (8 random bytes and 8 zero
// bytes) with the device authentication key under SM4 ECB; the device checks the answer.
#include <openssl/crypto.h>

#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "lib/device_auth.h"

using namespace softkey;

namespace softkey {
const uint8_t kDefaultDevAuthKey[16] = {'1', '2', '3', '4', '5', '6', '7', '8',
                                        '1', '2', '3', '4', '5', '6', '7', '8'};
}

namespace {

constexpr size_t kChallengeLen = 8, kAnswerLen = 16, kKeyLen = 16;

// Per "serial|session": the pending challenge, and the sessions that authenticated. Freed like the
// rest of the library's process state.
struct DevAuthState {
    std::mutex mutex;
    std::map<std::string, Bytes> challenges;
    std::set<std::string> authenticated;
};

DevAuthState* g_devAuth = new DevAuthState;

__attribute__((destructor)) void FreeDevAuthState() {
    if (!CloseLibraryCalls()) return;
    delete g_devAuth;
    g_devAuth = nullptr;
}

std::string SessionKey(const Handle& h) { return h.serial + "|" + h.session; }

// Takes the pending challenge of the session: each one answers at most one attempt.
bool TakeChallenge(const Handle& dev, Bytes& challenge) {
    std::lock_guard<std::mutex> lock(g_devAuth->mutex);
    auto it = g_devAuth->challenges.find(SessionKey(dev));
    if (it == g_devAuth->challenges.end()) return false;
    challenge = it->second;
    g_devAuth->challenges.erase(it);
    return true;
}

void SetAuthenticated(const Handle& dev, bool passed) {
    std::lock_guard<std::mutex> lock(g_devAuth->mutex);
    if (passed)
        g_devAuth->authenticated.insert(SessionKey(dev));
    else
        g_devAuth->authenticated.erase(SessionKey(dev));
}

bool IsAuthenticated(const Handle& dev) {
    std::lock_guard<std::mutex> lock(g_devAuth->mutex);
    return g_devAuth->authenticated.count(SessionKey(dev)) > 0;
}

Bytes AuthKeyOf(const DevAuth& d) {
    if (d.sealedKey.empty()) return Bytes(kDefaultDevAuthKey, kDefaultDevAuthKey + kKeyLen);
    Bytes key = Unseal(CurrentStore().StoreKey(), d.sealedKey);
    if (key.size() != kKeyLen) throw std::runtime_error("device authentication key is damaged");
    return key;
}

bool AnswerMatches(const DevAuth& d, const Bytes& challenge, const BYTE* answer) {
    uint8_t block[kAnswerLen] = {};
    std::memcpy(block, challenge.data(), kChallengeLen);
    Bytes key = AuthKeyOf(d);
    Bytes expected;
    bool ok = Sm4EcbEncrypt(key.data(), block, sizeof block, expected) &&
              expected.size() == kAnswerLen &&
              CRYPTO_memcmp(expected.data(), answer, kAnswerLen) == 0;
    OPENSSL_cleanse(key.data(), key.size());
    return ok;
}

}  // namespace

namespace softkey {

void RememberRandom(const Handle& dev, const uint8_t* random, size_t len) {
    std::lock_guard<std::mutex> lock(g_devAuth->mutex);
    if (len < kChallengeLen)
        g_devAuth->challenges.erase(SessionKey(dev));
    else
        g_devAuth->challenges[SessionKey(dev)] = Bytes(random, random + kChallengeLen);
}

ULONG CheckAppChangeAllowed(const Token& token, const Handle& dev) {
    if (!token.devAuth || !token.devAuth->required || IsAuthenticated(dev)) return SAR_OK;
    return SAR_USER_NOT_LOGIN;
}

}  // namespace softkey

SKF_EXPORT ULONG SKF_DevAuth(DEVHANDLE hDev, BYTE* pbAuthData, ULONG ulLen) {
    return Guarded([&]() -> ULONG {
        Handle dev;
        ULONG rc = Enter(hDev, HandleKind::Device, "SKF_DevAuth", dev);
        if (rc != SAR_OK) return rc;
        if (!pbAuthData) return SAR_INVALIDPARAMERR;
        if (ulLen != kAnswerLen) return SAR_INDATALENERR;
        return ChangeToken(dev.serial, [&](Token& t, bool& changed) -> ULONG {
            DevAuth d = t.devAuth.value_or(DevAuth{});
            Bytes challenge;
            bool haveChallenge = TakeChallenge(dev, challenge);
            if (d.remain == 0) return SAR_PIN_LOCKED;
            if (!haveChallenge) return SAR_NOTINITIALIZEERR;
            if (AnswerMatches(d, challenge, pbAuthData)) {
                if (d.remain != d.maxRetry) {
                    d.remain = d.maxRetry;
                    t.devAuth = d;
                    changed = true;
                }
                SetAuthenticated(dev, true);
                return SAR_OK;
            }
            SetAuthenticated(dev, false);
            --d.remain;
            t.devAuth = d;
            changed = true;
            return d.remain == 0 ? SAR_PIN_LOCKED : SAR_PIN_INCORRECT;
        });
    });
}

SKF_EXPORT ULONG SKF_ChangeDevAuthKey(DEVHANDLE hDev, BYTE* pbKeyValue, ULONG ulKeyLen) {
    return Guarded([&]() -> ULONG {
        Handle dev;
        ULONG rc = Enter(hDev, HandleKind::Device, "SKF_ChangeDevAuthKey", dev);
        if (rc != SAR_OK) return rc;
        if (!pbKeyValue) return SAR_INVALIDPARAMERR;
        if (ulKeyLen != kKeyLen) return SAR_INDATALENERR;
        if (!IsAuthenticated(dev)) return SAR_USER_NOT_LOGIN;
        return ChangeToken(dev.serial, [&](Token& t, bool& changed) -> ULONG {
            DevAuth d = t.devAuth.value_or(DevAuth{});
            Bytes key(pbKeyValue, pbKeyValue + kKeyLen);
            d.sealedKey = Seal(CurrentStore().StoreKey(), key);
            OPENSSL_cleanse(key.data(), key.size());
            t.devAuth = d;
            changed = true;
            return SAR_OK;
        });
    });
}
