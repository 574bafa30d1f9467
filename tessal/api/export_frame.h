// What every export that works on a key does first: find the current key, check what it needs.
#pragma once

#include <mutex>

#include "devices/key_manager.h"
#include "token/skf_ukey.h"

constexpr char kNoKeyText[] = "无法识别到UKey";
constexpr char kPinNotVerifiedText[] = "未验证Pin码";
constexpr char kUnsupportedText[] = "UKey不支持此功能";

// Holds the key set for the life of one export, so hot-plug cannot release the key it uses.
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

private:
    UKeyManager& m_manager;
    std::unique_lock<std::recursive_mutex> m_lock;
};
