// Device management: listing, connecting, information, presence and events.
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "core/vbus.h"
#include "lib/device_auth.h"
#include "lib/runtime.h"

using namespace softkey;

namespace {

// Plugged keys that this copy of the library may list, in serial order.
std::vector<std::string> VisiblePlugged(const Store& store) {
    std::vector<std::string> visible;
    for (const std::string& serial : PluggedSerials(store)) {
        bool ok = false;
        try {
            ReadToken(serial, [&](const Token& t) {
                ok = VisibleToThisDriver(t);
                return SAR_OK;
            });
        } catch (const std::runtime_error&) {
            continue;  // a refused key is not listed
        }
        if (ok) visible.push_back(serial);
    }
    return visible;
}

void CopyText(char* field, size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

// State of the event waiter, freed like the rest of the library's process state.
struct EventState {
    std::mutex mutex;
    std::condition_variable cv;
    bool cancelled = false;
    bool baseline = false;
    std::set<std::string> reported;  // keys last reported present
};

EventState* g_events = new EventState;

EventState& Events() { return *g_events; }

__attribute__((destructor)) void FreeEventState() {
    if (!CloseLibraryCalls()) return;
    delete g_events;
    g_events = nullptr;
}

}  // namespace

SKF_EXPORT ULONG SKF_EnumDev(BOOL bPresent, LPSTR szNameList, ULONG* pulSize) {
    (void)bPresent;
    return Guarded([&]() -> ULONG {
        Store store = CurrentStore();
        std::vector<std::string> names = VisiblePlugged(store);
        for (const std::string& serial : names) {
            ULONG fault = InjectedFault(store, serial, "SKF_EnumDev", "");
            if (fault) return fault;
        }
        return WriteNameList(names, szNameList, pulSize);
    });
}

SKF_EXPORT ULONG SKF_ConnectDev(LPSTR szName, DEVHANDLE* phDev) {
    return Guarded([&]() -> ULONG {
        if (!szName || !phDev) return SAR_INVALIDPARAMERR;
        std::string serial = szName;
        Store store = CurrentStore();
        auto session = PluggedSession(store, serial);
        if (!session) return SAR_DEVICE_REMOVED;
        bool visible = false;
        ULONG rc = ReadToken(serial, [&](const Token& t) {
            visible = VisibleToThisDriver(t);
            return SAR_OK;
        });
        if (rc != SAR_OK) return rc;
        if (!visible) return SAR_DEVICE_REMOVED;
        ULONG fault = InjectedFault(store, serial, "SKF_ConnectDev", serial);
        if (fault) return fault;
        Handle h;
        h.kind = HandleKind::Device;
        h.serial = serial;
        h.session = *session;
        *phDev = NewHandle(h);
        return SAR_OK;
    });
}

SKF_EXPORT ULONG SKF_DisConnectDev(DEVHANDLE hDev) {
    return Guarded([&]() -> ULONG { return CloseHandleOf(hDev, HandleKind::Device); });
}

SKF_EXPORT ULONG SKF_GetDevState(LPSTR szDevName, ULONG* pulDevState) {
    return Guarded([&]() -> ULONG {
        if (!szDevName || !pulDevState) return SAR_INVALIDPARAMERR;
        Store store = CurrentStore();
        std::string serial = szDevName;
        ULONG fault = InjectedFault(store, serial, "SKF_GetDevState", serial);
        if (fault) return fault;
        *pulDevState = DEV_ABSENT_STATE;
        if (!PluggedSession(store, serial)) return SAR_OK;
        return ReadToken(serial, [&](const Token& t) {
            if (VisibleToThisDriver(t)) *pulDevState = DEV_PRESENT_STATE;
            return SAR_OK;
        });
    });
}

SKF_EXPORT ULONG SKF_SetLabel(DEVHANDLE hDev, LPSTR szLabel) {
    return Guarded([&]() -> ULONG {
        Handle h;
        ULONG rc = Enter(hDev, HandleKind::Device, "SKF_SetLabel", h);
        if (rc != SAR_OK) return rc;
        if (!szLabel || std::strlen(szLabel) > 31) return SAR_INVALIDPARAMERR;
        return ChangeToken(h.serial, [&](Token& t, bool& changed) {
            t.label = szLabel;
            changed = true;
            return SAR_OK;
        });
    });
}

SKF_EXPORT ULONG SKF_GetDevInfo(DEVHANDLE hDev, DEVINFO* pDevInfo) {
    return Guarded([&]() -> ULONG {
        Handle h;
        ULONG rc = Enter(hDev, HandleKind::Device, "SKF_GetDevInfo", h);
        if (rc != SAR_OK) return rc;
        if (!pDevInfo) return SAR_INVALIDPARAMERR;
        return ReadToken(h.serial, [&](const Token& t) {
            DEVINFO info;
            std::memset(&info, 0, sizeof info);
            info.Version = {1, 0};
            CopyText(info.Manufacturer, sizeof info.Manufacturer, t.manufacturer);
            CopyText(info.Issuer, sizeof info.Issuer, "softkey");
            CopyText(info.Label, sizeof info.Label, t.label);
            CopyText(info.SerialNumber, sizeof info.SerialNumber, t.serial);
            info.HWVersion = {1, 0};
            info.FirmwareVersion = {1, 0};
            info.AlgSymCap = SGD_SM4_ECB | SGD_SM4_CBC | SGD_SM4_OFB | SGD_SM4_MAC;
            info.AlgAsymCap = SGD_RSA | SGD_SM2_1 | SGD_SM2_3;
            info.AlgHashCap = SGD_SM3 | SGD_SHA1 | SGD_SHA256;
            info.TotalSpace = 4u << 20;
            size_t used = 0;
            for (const Application& a : t.apps)
                for (const FileEntry& f : a.files) used += f.data.size();
            info.FreeSpace = static_cast<ULONG>(used > info.TotalSpace ? 0 : info.TotalSpace - used);
            info.MaxECCBufferSize = 1024;
            info.MaxBufferSize = 4096;
            info.DevAuthAlgId = SGD_SM4_ECB;
            *pDevInfo = info;
            return SAR_OK;
        });
    });
}

SKF_EXPORT ULONG SKF_LockDev(DEVHANDLE hDev, ULONG ulTimeOut) {
    (void)ulTimeOut;
    return Guarded([&]() -> ULONG {
        Handle h;
        return Enter(hDev, HandleKind::Device, "SKF_LockDev", h);
    });
}

SKF_EXPORT ULONG SKF_UnlockDev(DEVHANDLE hDev) {
    return Guarded([&]() -> ULONG {
        Handle h;
        return Enter(hDev, HandleKind::Device, "SKF_UnlockDev", h);
    });
}

SKF_EXPORT ULONG SKF_GenRandom(DEVHANDLE hDev, BYTE* pbRandom, ULONG ulRandomLen) {
    return Guarded([&]() -> ULONG {
        Handle h;
        ULONG rc = Enter(hDev, HandleKind::Device, "SKF_GenRandom", h);
        if (rc != SAR_OK) return rc;
        if (!pbRandom && ulRandomLen) return SAR_INVALIDPARAMERR;
        if (!RandomBytes(pbRandom, ulRandomLen)) return SAR_GENRANDERR;
        RememberRandom(h, pbRandom, ulRandomLen);
        return SAR_OK;
    });
}

// Blocks until a key this library lists is plugged or unplugged, or the wait is cancelled.
SKF_EXPORT ULONG SKF_WaitForDevEvent(LPSTR szDevName, ULONG* pulDevNameLen, ULONG* pulEvent) {
    return Guarded([&]() -> ULONG {
        if (!szDevName || !pulDevNameLen || !pulEvent) return SAR_INVALIDPARAMERR;
        EventState& ev = Events();
        std::unique_lock<std::mutex> lock(ev.mutex);
        ev.cancelled = false;
        if (!ev.baseline) {
            std::vector<std::string> now = VisiblePlugged(CurrentStore());
            ev.reported = std::set<std::string>(now.begin(), now.end());
            ev.baseline = true;
        }
        for (;;) {
            std::vector<std::string> list = VisiblePlugged(CurrentStore());
            std::set<std::string> now(list.begin(), list.end());
            std::string name;
            ULONG event = 0;
            for (const std::string& s : now)
                if (!ev.reported.count(s)) name = s, event = SKF_EVENT_DEVICE_ARRIVED;
            if (!event)
                for (const std::string& s : ev.reported)
                    if (!now.count(s)) name = s, event = SKF_EVENT_DEVICE_REMOVED;
            if (event) {
                if (*pulDevNameLen < name.size() + 1) {
                    *pulDevNameLen = static_cast<ULONG>(name.size() + 1);
                    return SAR_BUFFER_TOO_SMALL;
                }
                std::memcpy(szDevName, name.c_str(), name.size() + 1);
                *pulDevNameLen = static_cast<ULONG>(name.size() + 1);
                *pulEvent = event;
                if (event == SKF_EVENT_DEVICE_ARRIVED)
                    ev.reported.insert(name);
                else
                    ev.reported.erase(name);
                return SAR_OK;
            }
            if (ev.cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return ev.cancelled; }))
                return SAR_NOT_EVENTERR;
        }
    });
}

SKF_EXPORT ULONG SKF_CancelWaitForDevEvent(void) {
    EventState& ev = Events();
    std::lock_guard<std::mutex> lock(ev.mutex);
    ev.cancelled = true;
    ev.cv.notify_all();
    return SAR_OK;
}

// Some callers resolve the cancel function under this spelling.
SKF_EXPORT ULONG SKFCancelWaitForDevEvent(void) { return SKF_CancelWaitForDevEvent(); }
