#include "platform/device_monitor.h"

#include <errno.h>
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace platform {

bool DeviceMonitor::Start(const std::string& root) {
    if (m_thread.joinable()) return true;
    m_root = root;
    m_stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_stopFd < 0) return false;
    for (const UsbDevice& d : EnumerateUsbDevices(m_root)) m_known[d.entry] = d;
    try {
        if (IsRealSysfs(root))
            m_thread = std::thread(&DeviceMonitor::RunUdev, this);
        else
            m_thread = std::thread(&DeviceMonitor::RunInotify, this);
    } catch (const std::system_error&) {
        close(m_stopFd);
        m_stopFd = -1;
        return false;
    }
    return true;
}

void DeviceMonitor::Stop() {
    if (!m_thread.joinable()) return;
    uint64_t one = 1;
    if (write(m_stopFd, &one, sizeof one) < 0) {
        // the eventfd cannot be full after one write; nothing else to do
    }
    m_thread.join();
    close(m_stopFd);
    m_stopFd = -1;
}

void DeviceMonitor::RunInotify() {
    int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd < 0) return;
    int watch = -1;
    alignas(struct inotify_event) char buffer[16384];
    for (;;) {
        if (watch < 0) {
            // The directory may appear later (a store not yet prepared); look again shortly.
            watch = inotify_add_watch(fd, m_root.c_str(),
                                      IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR);
            if (watch >= 0) {
                for (const UsbDevice& d : EnumerateUsbDevices(m_root))
                    if (!m_known.count(d.entry)) Arrived(d.entry);
            }
        }
        struct pollfd fds[2] = {{m_stopFd, POLLIN, 0}, {fd, POLLIN, 0}};
        int n = poll(fds, 2, watch < 0 ? 200 : -1);
        if (n < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLIN) break;
        if (!(fds[1].revents & POLLIN)) continue;
        ssize_t len = read(fd, buffer, sizeof buffer);
        for (ssize_t off = 0; len > 0 && off < len;) {
            auto* ev = reinterpret_cast<struct inotify_event*>(buffer + off);
            std::string name = ev->len ? ev->name : "";
            if (ev->mask & (IN_CREATE | IN_MOVED_TO)) Arrived(name);
            if (ev->mask & (IN_DELETE | IN_MOVED_FROM)) Removed(name);
            if (ev->mask & IN_IGNORED) watch = -1;  // the directory itself went away
            off += static_cast<ssize_t>(sizeof(struct inotify_event) + ev->len);
        }
    }
    close(fd);
}

void DeviceMonitor::RunUdev() {
    struct udev* udev = udev_new();
    struct udev_monitor* mon = udev ? udev_monitor_new_from_netlink(udev, "udev") : nullptr;
    if (!mon || udev_monitor_filter_add_match_subsystem_devtype(mon, "usb", "usb_device") < 0 ||
        udev_monitor_enable_receiving(mon) < 0) {
        if (mon) udev_monitor_unref(mon);
        if (udev) udev_unref(udev);
        return;
    }
    int fd = udev_monitor_get_fd(mon);
    for (;;) {
        struct pollfd fds[2] = {{m_stopFd, POLLIN, 0}, {fd, POLLIN, 0}};
        int n = poll(fds, 2, -1);
        if (n < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLIN) break;
        if (!(fds[1].revents & POLLIN)) continue;
        struct udev_device* dev = udev_monitor_receive_device(mon);
        if (!dev) continue;
        const char* action = udev_device_get_action(dev);
        const char* sysname = udev_device_get_sysname(dev);
        if (action && sysname) {
            if (std::strcmp(action, "add") == 0) Arrived(sysname);
            if (std::strcmp(action, "remove") == 0) Removed(sysname);
        }
        udev_device_unref(dev);
    }
    udev_monitor_unref(mon);
    udev_unref(udev);
}

}  // namespace platform
