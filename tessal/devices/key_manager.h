// The opened keys of the process, the current key and the host's hot-plug callback.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "devices/hotplug_listener.h"
#include "tessal/result.h"
#include "token/usb_key.h"

// Every key object of the process, by device id (its serial number).
extern std::map<std::string, std::unique_ptr<UsbKey>> g_UKeyMap;
// Held by every change of the key set and by every export while it uses a key, so a key is
// never released under a host call. Recursive: an export may call operations that take it.
extern std::recursive_mutex g_UKeyMutex;

using HotplugCallback = std::function<void(int, const std::string&)>;

class UKeyManager {
public:
    static UKeyManager& GetInstance();

    void Init();
    UsbKey* GetCurrentUKey();
    CResult ChangeCurrentUKey(std::string deviceId);
    CResult VerifyPin(std::string pin, std::string deviceId, int* retry);
    std::vector<std::string> GetDeviceIds();
    void RegisterCallback(HotplugCallback callback);
    void Notify(int event, const std::string& deviceId);

    // Releases every key and opens the attached keys again (after clearing a key).
    void RebuildKeySet();

    // Opens a key for a catalogued VID&PID, trying its libraries in order; null when none opens.
    static std::unique_ptr<UsbKey> OpenKeyForVpid(const std::string& vpid);
    // Adds an opened key to the set and returns its id; it becomes the current key when asked
    // to, or (with `onlyIfNoCurrent`) when there is no current key.
    std::string AddKey(std::unique_ptr<UsbKey> key, bool onlyIfNoCurrent);
    // Drops the first key that no longer answers; returns its id, or "" when all answer.
    std::string DropFirstAbsentKey();

    // "VID_xxxx&PID_yyyy" anywhere in an upper-cased device identifier gives "xxxx&yyyy".
    static std::string ParseVpid(const std::string& deviceId);
    // Whether a device id belongs to a key object of the set other than `self` (read while
    // opening a key, so that a key reopening itself is not mistaken for another one's device).
    static bool IsKnownDeviceId(const std::string& deviceId, const UsbKey* self = nullptr);

private:
    UKeyManager();
    ~UKeyManager();
    UKeyManager(const UKeyManager&) = delete;
    UKeyManager& operator=(const UKeyManager&) = delete;

    UkeyListenerWindow m_listener;
    HotplugCallback m_callback;
    UsbKey* m_currentUKey = nullptr;
    std::mutex m_callbackMutex;
};
