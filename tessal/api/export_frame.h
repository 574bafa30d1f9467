// What every export that works on a key does first: find the current key, check what it needs.
#pragma once

#include "devices/key_manager.h"
#include "devices/key_use.h"
#include "token/skf_ukey.h"

constexpr char kNoKeyText[] = "无法识别到UKey";
constexpr char kPinNotVerifiedText[] = "未验证Pin码";
constexpr char kUnsupportedText[] = "UKey不支持此功能";

// One export's hold on the current key. The first of Key(), OwnMiddlewareKey() or
// PinVerifiedKey() takes the current key (briefly under the key set's lock) and keeps it, with
// its call lock, until the frame ends: hot-plug cannot release it under the export and no other
// thread drives it meanwhile, while cloud calls made during the export run without the lock
// (see KeyUse). Later calls return the same key.
class ExportFrame {
public:
    ExportFrame();

    UKeyManager& Manager() { return m_manager; }
    // The current key; null (after writing "无法识别到UKey") when there is none.
    UsbKey* Key();
    // The current key if it is of kind 0; null after writing the message that applies.
    UsbKey* OwnMiddlewareKey();
    // The current key if its PIN was verified; null after writing the message that applies.
    UsbKey* PinVerifiedKey();
    // Gives the key up before the export goes on to work on other keys or the key set.
    void ReleaseKey() { m_key.Reset(); }

private:
    UKeyManager& m_manager;
    KeyUse m_key;
};
