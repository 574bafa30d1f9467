#include "devices/key_use.h"

namespace {
// The innermost use of the calling thread; each use links to the one it was made inside.
thread_local KeyUse* t_innermost = nullptr;
}  // namespace

KeyUse::KeyUse() : m_outer(t_innermost) { t_innermost = this; }

KeyUse::KeyUse(std::shared_ptr<UsbKey> key) : KeyUse() { Reset(std::move(key)); }

KeyUse::~KeyUse() {
    Reset();
    // Uses end in reverse order of their making; unlink this one wherever it sits.
    for (KeyUse** link = &t_innermost; *link; link = &(*link)->m_outer) {
        if (*link == this) {
            *link = m_outer;
            break;
        }
    }
}

void KeyUse::Reset() {
    if (m_lock.owns_lock()) m_lock.unlock();
    m_lock = std::unique_lock<std::recursive_mutex>();
    m_key.reset();
}

void KeyUse::Reset(std::shared_ptr<UsbKey> key) {
    Reset();
    if (!key) return;
    m_lock = std::unique_lock<std::recursive_mutex>(key->CallMutex());
    m_key = std::move(key);
}

std::shared_ptr<UsbKey> KeyUse::ThreadKey() {
    for (KeyUse* use = t_innermost; use; use = use->m_outer)
        if (use->m_key) return use->m_key;
    return nullptr;
}

KeyLockReleased::KeyLockReleased() {
    for (KeyUse* use = t_innermost; use; use = use->m_outer) {
        if (!use->m_lock.owns_lock()) continue;
        use->m_lock.unlock();
        m_released.push_back(use);
    }
}

KeyLockReleased::~KeyLockReleased() {
    for (auto it = m_released.rbegin(); it != m_released.rend(); ++it) (*it)->m_lock.lock();
}
