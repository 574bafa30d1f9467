#include "devices/hotplug_listener.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>

#include "api/log.h"
#include "devices/device_catalogue.h"
#include "devices/key_manager.h"
#include "platform/usb_enumeration.h"
#include "token/skf_ukey.h"

UkeyListenerWindow::UkeyListenerWindow() : m_className("UkeyListen Window Class") {}

UkeyListenerWindow::~UkeyListenerWindow() { Stop(); }

void UkeyListenerWindow::Start() {
    if (m_monitor) return;
    m_monitor.reset(new platform::DeviceMonitor([](const std::string& path, platform::DeviceEvent event) {
        UpdateDevice(path, event == platform::DeviceEvent::Arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE);
    }));
    if (!m_monitor->Start(platform::UsbSysfsRoot())) m_monitor.reset();
}

void UkeyListenerWindow::Stop() {
    if (m_monitor) m_monitor->Stop();
    m_monitor.reset();
}

void UkeyListenerWindow::UpdateDevice(const std::string& interfacePath, unsigned int event) {
    // "\\?\USB#VID_1EA8&PID_C109#5&1a2b&0&1#{guid}" -> "USB\VID_1EA8&PID_C109\5&1A2B&0&1"
    std::string text = interfacePath.size() > 4 ? interfacePath.substr(4) : std::string();
    size_t hash = text.rfind('#');
    if (hash != std::string::npos) text.resize(hash);
    std::replace(text.begin(), text.end(), '#', '\\');
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    if (text.find("VID") == std::string::npos || text.find("PID") == std::string::npos) return;
    std::string vpid = UKeyManager::ParseVpid(text);
    bool catalogued = LibrariesForVpid(vpid) != nullptr;

    UKeyManager& manager = UKeyManager::GetInstance();
    // Opening a key and the removal wait run without the set's lock: they delay later notices,
    // not host calls. The host is told after the set has changed, with no lock held, so its
    // callback may call back in; a dropped key is released after that (or, when a host call is
    // still using it, when that call returns).
    if (event == DBT_DEVICEARRIVAL) {
        TLOG_DEBUG("insert device vpid:" << vpid);
        UnopenedKey failure;
        std::shared_ptr<UsbKey> key = catalogued ? UKeyManager::OpenKeyForVpid(vpid, &failure) : nullptr;
        if (!key && !failure.vpid.empty()) manager.NoteUnopened(std::move(failure));
        std::string added = key ? manager.AddKey(std::move(key), true) : std::string();
        if (!added.empty()) manager.Notify(1, added);
    } else if (event == DBT_DEVICEREMOVECOMPLETE) {
        TLOG_DEBUG("remove device vpid:" << vpid);
        if (!catalogued) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(SettleDelayMs(1000)));
        std::string removed;
        std::shared_ptr<UsbKey> key = manager.DropFirstAbsentKey(removed);
        if (key)
            manager.Notify(0, removed);
        else
            manager.ForgetUnopened(vpid);
    }
}
