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

// Every key object of the process, by device id (its serial number). Host calls that use a key
// share its ownership (KeyUse), so a key dropped from the set lives on until they return.
extern std::map<std::string, std::shared_ptr<UsbKey>>& g_UKeyMap;
// Guards g_UKeyMap and the current key. Held only to read or change them, never across driver
// calls, device pauses, network waits or the host's callback.
extern std::mutex& g_UKeyMutex;

using HotplugCallback = std::function<void(int, const std::string&)>;

// A catalogued device that is attached but that none of its driver libraries opened.
struct UnopenedKey {
    std::string vpid;                   // "1EA8&C109"
    std::vector<std::string> searched;  // the directories looked in, in order
    std::vector<std::string> loaded;    // libraries that loaded but did not open the key (paths)
};

class UKeyManager {
public:
    static UKeyManager& GetInstance();

    void Init();
    std::shared_ptr<UsbKey> GetCurrentUKey();
    // The key the calling thread's export is using, else the current key (for the OpenSSL
    // methods, which sign with the key of the call that is running).
    std::shared_ptr<UsbKey> KeyInUse();
    CResult ChangeCurrentUKey(std::string deviceId);
    CResult VerifyPin(std::string pin, std::string deviceId, int* retry);
    std::vector<std::string> GetDeviceIds();
    void RegisterCallback(HotplugCallback callback);
    void Notify(int event, const std::string& deviceId);

    // Releases every key and opens the attached keys again (after clearing a key).
    void RebuildKeySet();

    // Opens a key for a catalogued VID&PID, trying its libraries in order; null when none opens
    // (then `failure`, when given, tells where they were looked for and which loaded).
    static std::shared_ptr<UsbKey> OpenKeyForVpid(const std::string& vpid,
                                                  UnopenedKey* failure = nullptr);
    // The catalogued devices of the last enumeration (Init) that yielded no key, and those that
    // arrived since without a key and are still attached.
    std::vector<UnopenedKey> UnopenedKeys();
    // A device that arrived and that no library opened.
    void NoteUnopened(UnopenedKey key);
    // A device of `vpid` went that was not one of the opened keys: one unopened entry of it goes.
    void ForgetUnopened(const std::string& vpid);
    // Adds an opened key to the set and returns its id; it becomes the current key when asked
    // to, or (with `onlyIfNoCurrent`) when there is no current key. A key whose id is in the
    // set already is not added ("" is returned).
    std::string AddKey(std::shared_ptr<UsbKey> key, bool onlyIfNoCurrent);
    // Drops the first key that no longer answers from the set and returns it (with its id in
    // `id`), or null when all answer. The caller's reference is the set's last one unless a host
    // call is still using the key.
    std::shared_ptr<UsbKey> DropFirstAbsentKey(std::string& id);

    // "VID_xxxx&PID_yyyy" anywhere in an upper-cased device identifier gives "xxxx&yyyy".
    static std::string ParseVpid(const std::string& deviceId);
    // Whether a device id belongs to a key object of the set other than `self` (read while
    // opening a key, so that a key reopening itself is not mistaken for another one's device).
    static bool IsKnownDeviceId(const std::string& deviceId, const UsbKey* self = nullptr);

private:
    UKeyManager();
    // Left alive at exit (a thread may still be in an export); this runs instead.
    ~UKeyManager() = delete;
    static void ReleaseAtExit();
    UKeyManager(const UKeyManager&) = delete;
    UKeyManager& operator=(const UKeyManager&) = delete;

    UkeyListenerWindow m_listener;
    HotplugCallback m_callback;
    std::shared_ptr<UsbKey> m_currentUKey;  // an entry of g_UKeyMap, or null
    std::vector<UnopenedKey> m_unopened;    // guarded by g_UKeyMutex
    std::mutex m_callbackMutex;
};
