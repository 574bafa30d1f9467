#include "devices/key_manager.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "api/failure.h"
#include "api/log.h"
#include "devices/device_catalogue.h"
#include "devices/key_use.h"
#include "platform/program_paths.h"
#include "platform/usb_enumeration.h"
#include "token/skf_ukey.h"

// Never destroyed: a thread may still be in an export while the process exits.
std::map<std::string, std::shared_ptr<UsbKey>>& g_UKeyMap = *new std::map<std::string, std::shared_ptr<UsbKey>>;
std::mutex& g_UKeyMutex = *new std::mutex;

namespace {
constexpr char kOwnMiddlewareLibrary[] = "EsZYKEBankCspV2.dll";
}

UKeyManager& UKeyManager::GetInstance() {
    // Left alive at exit, like the key set: ReleaseAtExit releases the keys instead.
    static UKeyManager* instance = new UKeyManager;
    return *instance;
}

UKeyManager::UKeyManager() {
    m_listener.Start();
    Init();
    std::atexit(ReleaseAtExit);
}

void UKeyManager::ReleaseAtExit() {
    UKeyManager& manager = GetInstance();
    // The listener is stopped first, so it never touches the key set while it goes away.
    manager.m_listener.Stop();
    std::map<std::string, std::shared_ptr<UsbKey>> keys;
    {
        std::lock_guard<std::mutex> lock(g_UKeyMutex);
        manager.m_currentUKey.reset();
        keys.swap(g_UKeyMap);
    }
    // Keys still used by a running export are released when it returns.
}

std::string UKeyManager::ParseVpid(const std::string& deviceId) {
    size_t vid = deviceId.find("VID");
    size_t pid = deviceId.find("PID");
    std::string vendor = vid == std::string::npos || vid + 4 > deviceId.size() ? "" : deviceId.substr(vid + 4, 4);
    std::string product = pid == std::string::npos || pid + 4 > deviceId.size() ? "" : deviceId.substr(pid + 4, 4);
    return vendor + "&" + product;
}

bool UKeyManager::IsKnownDeviceId(const std::string& deviceId, const UsbKey* self) {
    std::lock_guard<std::mutex> lock(g_UKeyMutex);
    auto it = g_UKeyMap.find(deviceId);
    return it != g_UKeyMap.end() && it->second.get() != self;
}

std::shared_ptr<UsbKey> UKeyManager::OpenKeyForVpid(const std::string& vpid, UnopenedKey* failure) {
    const std::vector<std::string>* libraries = LibrariesForVpid(vpid);
    if (!libraries) return nullptr;
    UnopenedKey tried{vpid, {}, {}};
    for (const std::string& lib : *libraries) {
        TLOG_DEBUG("ukey pid&vid: " << vpid);
        TLOG_DEBUG("ukey lib: " << lib);
        std::shared_ptr<SkfUKey> key = std::make_shared<SkfUKey>(lib);
        if (key->IsOpened()) return key;
        TLOG_DEBUG("========== ukey init failure");
        for (const std::string& dir : LibraryDirectories(lib))
            if (std::find(tried.searched.begin(), tried.searched.end(), dir) ==
                tried.searched.end())
                tried.searched.push_back(dir);
        if (key->IsLibraryLoaded())
            tried.loaded.push_back(platform::JoinPath(key->LibraryDir(), lib));
    }
    if (failure) *failure = std::move(tried);
    return nullptr;
}

std::vector<UnopenedKey> UKeyManager::UnopenedKeys() {
    std::lock_guard<std::mutex> lock(g_UKeyMutex);
    return m_unopened;
}

void UKeyManager::NoteUnopened(UnopenedKey key) {
    std::lock_guard<std::mutex> lock(g_UKeyMutex);
    m_unopened.push_back(std::move(key));
}

void UKeyManager::ForgetUnopened(const std::string& vpid) {
    std::lock_guard<std::mutex> lock(g_UKeyMutex);
    auto it = std::find_if(m_unopened.begin(), m_unopened.end(),
                           [&](const UnopenedKey& key) { return key.vpid == vpid; });
    if (it != m_unopened.end()) m_unopened.erase(it);
}

std::string UKeyManager::AddKey(std::shared_ptr<UsbKey> key, bool onlyIfNoCurrent) {
    std::string id = key->GetDeviceId();
    std::lock_guard<std::mutex> lock(g_UKeyMutex);
    // Another thread may have opened the same device meanwhile: the first key stays.
    if (!g_UKeyMap.emplace(id, key).second) return std::string();
    if (!onlyIfNoCurrent || !m_currentUKey) m_currentUKey = std::move(key);
    return id;
}

void UKeyManager::Init() {
    // Keys are opened (with the driver binding's pauses) outside the set's lock.
    TLOG_DEBUG("UKeyManager: Starting initialization.");
    std::vector<UnopenedKey> unopened;
    for (const platform::UsbDevice& device : platform::EnumerateUsbDevices(platform::UsbSysfsRoot())) {
        std::string text = device.hardwareId;
        std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
        TLOG_DEBUG("vid&pidbuffer is " << text);
        if (text.size() <= 2 || text.find("VID") == std::string::npos || text.find("PID") == std::string::npos)
            continue;
        UnopenedKey failure;
        std::shared_ptr<UsbKey> key = OpenKeyForVpid(ParseVpid(text), &failure);
        if (!key) {
            if (!failure.vpid.empty()) unopened.push_back(std::move(failure));
            continue;
        }
        TLOG_DEBUG("========== ukey init success");
        TLOG_DEBUG("========== ukey DeviceId: " << key->GetDeviceId());
        AddKey(std::move(key), false);
    }
    {
        std::lock_guard<std::mutex> lock(g_UKeyMutex);
        m_unopened = std::move(unopened);
    }
    TLOG_DEBUG("UKeyManager: Initialization ended.");
}

std::shared_ptr<UsbKey> UKeyManager::GetCurrentUKey() {
    std::lock_guard<std::mutex> lock(g_UKeyMutex);
    if (!m_currentUKey && !g_UKeyMap.empty()) m_currentUKey = g_UKeyMap.begin()->second;
    return m_currentUKey;
}

std::shared_ptr<UsbKey> UKeyManager::KeyInUse() {
    std::shared_ptr<UsbKey> key = KeyUse::ThreadKey();
    return key ? key : GetCurrentUKey();
}

CResult UKeyManager::ChangeCurrentUKey(std::string deviceId) {
    std::lock_guard<std::mutex> lock(g_UKeyMutex);
    CResult result;
    auto it = g_UKeyMap.find(deviceId);
    if (it == g_UKeyMap.end()) {
        TESSAL_FAIL(result, 31, "UKeyManager::ChangeCurrentUKey");
        return result;
    }
    m_currentUKey = it->second;
    return result;
}

CResult UKeyManager::VerifyPin(std::string pin, std::string deviceId, int* retry) {
    CResult result;
    std::shared_ptr<UsbKey> found;
    {
        std::lock_guard<std::mutex> lock(g_UKeyMutex);
        auto it = g_UKeyMap.find(deviceId);
        if (it != g_UKeyMap.end() && it->second) m_currentUKey = found = it->second;
    }
    if (!found) {
        TESSAL_FAIL(result, 26, "UKeyManager::VerifyPin");
        return result;
    }
    KeyUse use(std::move(found));
    int count = retry ? *retry : 0;
    result = use.get()->VerifyPin(pin, count);
    if (retry) *retry = count;
    return result;
}

std::vector<std::string> UKeyManager::GetDeviceIds() {
    std::lock_guard<std::mutex> lock(g_UKeyMutex);
    std::vector<std::string> ids;
    for (auto& entry : g_UKeyMap) {
        if (!entry.second) continue;
        if (entry.second->GetLibName() == kOwnMiddlewareLibrary)
            ids.insert(ids.begin(), entry.first);
        else
            ids.push_back(entry.first);
    }
    return ids;
}

void UKeyManager::RegisterCallback(HotplugCallback callback) {
    std::lock_guard<std::mutex> lock(m_callbackMutex);
    m_callback = std::move(callback);
}

void UKeyManager::Notify(int event, const std::string& deviceId) {
    HotplugCallback callback;
    {
        std::lock_guard<std::mutex> lock(m_callbackMutex);
        callback = m_callback;
    }
    if (callback) callback(event, deviceId);
}

void UKeyManager::RebuildKeySet() {
    std::map<std::string, std::shared_ptr<UsbKey>> released;
    {
        std::lock_guard<std::mutex> lock(g_UKeyMutex);
        m_currentUKey.reset();
        released.swap(g_UKeyMap);
    }
    // The old keys close their devices before the attached keys are opened again (unless a
    // host call still uses one; it is released when that call returns).
    released.clear();
    Init();
}

std::shared_ptr<UsbKey> UKeyManager::DropFirstAbsentKey(std::string& id) {
    std::map<std::string, std::shared_ptr<UsbKey>> keys;
    {
        std::lock_guard<std::mutex> lock(g_UKeyMutex);
        keys = g_UKeyMap;
    }
    // The presence checks are driver calls: they wait for the key's call lock, not the set's.
    for (auto& entry : keys) {
        auto* key = dynamic_cast<SkfUKey*>(entry.second.get());
        if (!key) continue;
        {
            KeyUse use(entry.second);
            if (key->IsDevicePresent() && key->IsDeviceConnected()) {
                TLOG_DEBUG("ukey exist && valid && deviceId is " << entry.first);
                continue;
            }
        }
        std::lock_guard<std::mutex> lock(g_UKeyMutex);
        auto it = g_UKeyMap.find(entry.first);
        // Dropped meanwhile (a cleared key set): nothing more to do for this notice.
        if (it == g_UKeyMap.end() || it->second != entry.second) return nullptr;
        if (m_currentUKey == entry.second) m_currentUKey.reset();
        g_UKeyMap.erase(it);
        TLOG_DEBUG("remove device finish");
        id = entry.first;
        return entry.second;
    }
    return nullptr;
}
