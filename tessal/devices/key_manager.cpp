#include "devices/key_manager.h"

#include <algorithm>
#include <cctype>

#include "api/failure.h"
#include "api/log.h"
#include "devices/device_catalogue.h"
#include "platform/usb_enumeration.h"
#include "token/skf_ukey.h"

std::map<std::string, std::unique_ptr<UsbKey>> g_UKeyMap;
std::recursive_mutex g_UKeyMutex;

namespace {
constexpr char kOwnMiddlewareLibrary[] = "EsZYKEBankCspV2.dll";
}

UKeyManager& UKeyManager::GetInstance() {
    static UKeyManager instance;
    return instance;
}

UKeyManager::UKeyManager() {
    m_listener.Start();
    Init();
}

UKeyManager::~UKeyManager() {
    // The listener is stopped first, so it never touches the key set while it goes away.
    m_listener.Stop();
    std::lock_guard<std::recursive_mutex> lock(g_UKeyMutex);
    m_currentUKey = nullptr;
    g_UKeyMap.clear();
}

std::string UKeyManager::ParseVpid(const std::string& deviceId) {
    size_t vid = deviceId.find("VID");
    size_t pid = deviceId.find("PID");
    std::string vendor = vid == std::string::npos || vid + 4 > deviceId.size() ? "" : deviceId.substr(vid + 4, 4);
    std::string product = pid == std::string::npos || pid + 4 > deviceId.size() ? "" : deviceId.substr(pid + 4, 4);
    return vendor + "&" + product;
}

bool UKeyManager::IsKnownDeviceId(const std::string& deviceId, const UsbKey* self) {
    std::lock_guard<std::recursive_mutex> lock(g_UKeyMutex);
    auto it = g_UKeyMap.find(deviceId);
    return it != g_UKeyMap.end() && it->second.get() != self;
}

std::unique_ptr<UsbKey> UKeyManager::OpenKeyForVpid(const std::string& vpid) {
    const std::vector<std::string>* libraries = LibrariesForVpid(vpid);
    if (!libraries) return nullptr;
    for (const std::string& lib : *libraries) {
        TLOG_DEBUG("ukey pid&vid: " << vpid);
        TLOG_DEBUG("ukey lib: " << lib);
        std::unique_ptr<UsbKey> key(new SkfUKey(lib));
        if (key->IsOpened()) return key;
        TLOG_DEBUG("========== ukey init failure");
    }
    return nullptr;
}

std::string UKeyManager::AddKey(std::unique_ptr<UsbKey> key, bool onlyIfNoCurrent) {
    std::lock_guard<std::recursive_mutex> lock(g_UKeyMutex);
    std::string id = key->GetDeviceId();
    UsbKey* raw = key.get();
    g_UKeyMap[id] = std::move(key);
    if (!onlyIfNoCurrent || !m_currentUKey) m_currentUKey = raw;
    return id;
}

void UKeyManager::Init() {
    std::lock_guard<std::recursive_mutex> lock(g_UKeyMutex);
    TLOG_DEBUG("UKeyManager: Starting initialization.");
    for (const platform::UsbDevice& device : platform::EnumerateUsbDevices(platform::UsbSysfsRoot())) {
        std::string text = device.hardwareId;
        std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
        TLOG_DEBUG("vid&pidbuffer is " << text);
        if (text.size() <= 2 || text.find("VID") == std::string::npos || text.find("PID") == std::string::npos)
            continue;
        std::unique_ptr<UsbKey> key = OpenKeyForVpid(ParseVpid(text));
        if (!key) continue;
        TLOG_DEBUG("========== ukey init success");
        TLOG_DEBUG("========== ukey DeviceId: " << key->GetDeviceId());
        AddKey(std::move(key), false);
    }
    TLOG_DEBUG("UKeyManager: Initialization ended.");
}

UsbKey* UKeyManager::GetCurrentUKey() {
    std::lock_guard<std::recursive_mutex> lock(g_UKeyMutex);
    if (!m_currentUKey && !g_UKeyMap.empty()) m_currentUKey = g_UKeyMap.begin()->second.get();
    return m_currentUKey;
}

CResult UKeyManager::ChangeCurrentUKey(std::string deviceId) {
    std::lock_guard<std::recursive_mutex> lock(g_UKeyMutex);
    CResult result;
    auto it = g_UKeyMap.find(deviceId);
    if (it == g_UKeyMap.end()) {
        TESSAL_FAIL(result, 31, "UKeyManager::ChangeCurrentUKey");
        return result;
    }
    m_currentUKey = it->second.get();
    return result;
}

CResult UKeyManager::VerifyPin(std::string pin, std::string deviceId, int* retry) {
    std::lock_guard<std::recursive_mutex> lock(g_UKeyMutex);
    CResult result;
    for (auto& entry : g_UKeyMap) {
        if (entry.first != deviceId || !entry.second) continue;
        m_currentUKey = entry.second.get();
        int count = retry ? *retry : 0;
        result = m_currentUKey->VerifyPin(pin, count);
        if (retry) *retry = count;
        return result;
    }
    TESSAL_FAIL(result, 26, "UKeyManager::VerifyPin");
    return result;
}

std::vector<std::string> UKeyManager::GetDeviceIds() {
    std::lock_guard<std::recursive_mutex> lock(g_UKeyMutex);
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
    std::lock_guard<std::recursive_mutex> lock(g_UKeyMutex);
    m_currentUKey = nullptr;
    g_UKeyMap.clear();
    Init();
}

std::string UKeyManager::DropFirstAbsentKey() {
    std::lock_guard<std::recursive_mutex> lock(g_UKeyMutex);
    for (auto it = g_UKeyMap.begin(); it != g_UKeyMap.end(); ++it) {
        auto* key = dynamic_cast<SkfUKey*>(it->second.get());
        if (!key) continue;
        if (key->IsDevicePresent() && key->IsDeviceConnected()) {
            TLOG_DEBUG("ukey exist && valid && deviceId is " << it->first);
            continue;
        }
        std::string id = it->first;
        if (m_currentUKey == key) m_currentUKey = nullptr;
        g_UKeyMap.erase(it);
        TLOG_DEBUG("remove device finish");
        return id;
    }
    return std::string();
}
