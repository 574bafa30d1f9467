// The part of the device monitor that both platforms share: turning a device directory entry
// that came or went into the handler's event.
#include "platform/device_monitor.h"

namespace platform {

DeviceMonitor::DeviceMonitor(DeviceEventHandler handler) : m_handler(std::move(handler)) {}

DeviceMonitor::~DeviceMonitor() { Stop(); }

void DeviceMonitor::Arrived(const std::string& entry) {
    UsbDevice d;
    if (entry.empty() || entry[0] == '.' || !ReadUsbDevice(m_root, entry, d)) return;
    m_known[entry] = d;
    m_handler(InterfacePath(d), DeviceEvent::Arrival);
}

void DeviceMonitor::Removed(const std::string& entry) {
    auto it = m_known.find(entry);
    if (it == m_known.end()) return;
    UsbDevice d = it->second;
    m_known.erase(it);
    m_handler(InterfacePath(d), DeviceEvent::Removal);
}

}  // namespace platform
