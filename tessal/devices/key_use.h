// How a host call holds a key while it works with it.
//
// A call shares ownership of the key object, so a key pulled out meanwhile is released only
// when the last call using it returns, and it holds the key's call lock, so one thread at a
// time drives the key's vendor library. The call lock is given up while the thread waits on
// the network (KeyLockReleased), so a slow cloud service never holds up other calls on the key
// or the hot-plug listener checking whether the key is still there.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "token/usb_key.h"

class KeyUse {
public:
    KeyUse();
    // Takes the key's call lock (waiting for another thread's driver calls); a null key is empty.
    explicit KeyUse(std::shared_ptr<UsbKey> key);
    ~KeyUse();
    KeyUse(const KeyUse&) = delete;
    KeyUse& operator=(const KeyUse&) = delete;

    UsbKey* get() const { return m_key.get(); }
    const std::shared_ptr<UsbKey>& shared() const { return m_key; }
    // Gives the key up (unlocks, then drops the reference); the use is empty afterwards.
    void Reset();
    // Gives the current key up and takes `key` instead.
    void Reset(std::shared_ptr<UsbKey> key);

    // The key of the calling thread's innermost use, or null when the thread uses none.
    static std::shared_ptr<UsbKey> ThreadKey();

private:
    friend class KeyLockReleased;

    std::shared_ptr<UsbKey> m_key;                // declared first: outlives the lock on its mutex
    std::unique_lock<std::recursive_mutex> m_lock;
    KeyUse* m_outer = nullptr;  // the thread's previous innermost use
};

// While it lives, the calling thread holds none of its keys' call locks (for network waits);
// they are taken again, outermost first, when it ends. The keys stay owned throughout.
class KeyLockReleased {
public:
    KeyLockReleased();
    ~KeyLockReleased();
    KeyLockReleased(const KeyLockReleased&) = delete;
    KeyLockReleased& operator=(const KeyLockReleased&) = delete;

private:
    std::vector<KeyUse*> m_released;  // innermost first
};
