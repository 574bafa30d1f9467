// Applications and their PINs.
#include <cstring>

#include "lib/device_auth.h"
#include "lib/runtime.h"

using namespace softkey;

namespace {

constexpr size_t kMaxAppName = 48;
constexpr size_t kMinPin = 6, kMaxPin = 32;

Pin* PinOf(Application& app, ULONG type) {
    if (type == USER_TYPE) return &app.userPin;
    if (type == ADMIN_TYPE) return &app.adminPin;
    return nullptr;
}

// Checks `pin` against `p`, counting down on a mismatch. `changed` tells whether `p` moved.
ULONG CheckPin(Pin& p, const std::string& pin, ULONG* retry, bool& changed) {
    if (p.remain == 0) {
        if (retry) *retry = 0;
        return SAR_PIN_LOCKED;
    }
    if (PinMatches(p, pin)) {
        if (p.remain != p.maxRetry) changed = true;
        p.remain = p.maxRetry;
        if (retry) *retry = p.remain;
        return SAR_OK;
    }
    --p.remain;
    changed = true;
    if (retry) *retry = p.remain;
    return p.remain == 0 ? SAR_PIN_LOCKED : SAR_PIN_INCORRECT;
}

// Runs `op` on the application of an application handle.
ULONG WithApp(const Handle& h, const std::function<ULONG(Application&, bool&)>& op) {
    return ChangeToken(h.serial, [&](Token& t, bool& changed) -> ULONG {
        Application* app = t.FindApp(h.app);
        if (!app) return SAR_APPLICATION_NOT_EXISTS;
        return op(*app, changed);
    });
}

}  // namespace

SKF_EXPORT ULONG SKF_CreateApplication(DEVHANDLE hDev, LPSTR szAppName, LPSTR szAdminPin,
                                       DWORD dwAdminPinRetryCount, LPSTR szUserPin,
                                       DWORD dwUserPinRetryCount, DWORD dwCreateFileRights,
                                       HAPPLICATION* phApplication) {
    return Guarded([&]() -> ULONG {
        Handle dev;
        std::string name = szAppName ? szAppName : "";
        ULONG rc = Enter(hDev, HandleKind::Device, "SKF_CreateApplication", dev, name);
        if (rc != SAR_OK) return rc;
        if (!szAppName || !szAdminPin || !szUserPin || !phApplication) return SAR_INVALIDPARAMERR;
        if (name.empty() || name.size() > kMaxAppName) return SAR_APPLICATION_NAME_INVALID;
        std::string admin = szAdminPin, user = szUserPin;
        if (admin.size() < kMinPin || admin.size() > kMaxPin || user.size() < kMinPin ||
            user.size() > kMaxPin)
            return SAR_PIN_LEN_RANGE;
        if (dwAdminPinRetryCount == 0 || dwAdminPinRetryCount > 15 || dwUserPinRetryCount == 0 ||
            dwUserPinRetryCount > 15)
            return SAR_INVALIDPARAMERR;
        rc = ChangeToken(dev.serial, [&](Token& t, bool& changed) -> ULONG {
            ULONG allowed = CheckAppChangeAllowed(t, dev);
            if (allowed != SAR_OK) return allowed;
            if (t.FindApp(name)) return SAR_APPLICATION_EXISTS;
            Application app;
            app.name = name;
            app.adminPin = MakePin(admin, dwAdminPinRetryCount);
            app.userPin = MakePin(user, dwUserPinRetryCount);
            app.createFileRights = dwCreateFileRights;
            t.apps.push_back(app);
            changed = true;
            return SAR_OK;
        });
        if (rc != SAR_OK) return rc;
        Handle h = dev;
        h.kind = HandleKind::Application;
        h.app = name;
        ClearLogin(h);
        *phApplication = NewHandle(h);
        return SAR_OK;
    });
}

SKF_EXPORT ULONG SKF_EnumApplication(DEVHANDLE hDev, LPSTR szAppName, ULONG* pulSize) {
    return Guarded([&]() -> ULONG {
        Handle dev;
        ULONG rc = Enter(hDev, HandleKind::Device, "SKF_EnumApplication", dev);
        if (rc != SAR_OK) return rc;
        return ReadToken(dev.serial, [&](const Token& t) {
            std::vector<std::string> names;
            for (const Application& a : t.apps) names.push_back(a.name);
            return WriteNameList(names, szAppName, pulSize);
        });
    });
}

SKF_EXPORT ULONG SKF_DeleteApplication(DEVHANDLE hDev, LPSTR szAppName) {
    return Guarded([&]() -> ULONG {
        Handle dev;
        std::string name = szAppName ? szAppName : "";
        ULONG rc = Enter(hDev, HandleKind::Device, "SKF_DeleteApplication", dev, name);
        if (rc != SAR_OK) return rc;
        rc = ChangeToken(dev.serial, [&](Token& t, bool& changed) -> ULONG {
            ULONG allowed = CheckAppChangeAllowed(t, dev);
            if (allowed != SAR_OK) return allowed;
            for (size_t i = 0; i < t.apps.size(); ++i) {
                if (t.apps[i].name != name) continue;
                t.apps.erase(t.apps.begin() + static_cast<long>(i));
                changed = true;
                return SAR_OK;
            }
            return SAR_APPLICATION_NOT_EXISTS;
        });
        if (rc == SAR_OK) {
            Handle app = dev;
            app.app = name;
            ClearLogin(app);
        }
        return rc;
    });
}

SKF_EXPORT ULONG SKF_OpenApplication(DEVHANDLE hDev, LPSTR szAppName, HAPPLICATION* phApplication) {
    return Guarded([&]() -> ULONG {
        Handle dev;
        std::string name = szAppName ? szAppName : "";
        ULONG rc = Enter(hDev, HandleKind::Device, "SKF_OpenApplication", dev, name);
        if (rc != SAR_OK) return rc;
        if (!phApplication) return SAR_INVALIDPARAMERR;
        rc = ReadToken(dev.serial, [&](const Token& t) -> ULONG {
            for (const Application& a : t.apps)
                if (a.name == name) return SAR_OK;
            return SAR_APPLICATION_NOT_EXISTS;
        });
        if (rc != SAR_OK) return rc;
        Handle h = dev;
        h.kind = HandleKind::Application;
        h.app = name;
        *phApplication = NewHandle(h);
        return SAR_OK;
    });
}

SKF_EXPORT ULONG SKF_CloseApplication(HAPPLICATION hApplication) {
    return Guarded([&]() -> ULONG { return CloseHandleOf(hApplication, HandleKind::Application); });
}

SKF_EXPORT ULONG SKF_VerifyPIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szPIN,
                               ULONG* pulRetryCount) {
    return Guarded([&]() -> ULONG {
        Handle h;
        ULONG rc = Enter(hApplication, HandleKind::Application, "SKF_VerifyPIN", h,
                         ulPINType == ADMIN_TYPE ? "admin" : "user");
        if (rc != SAR_OK) return rc;
        if (!szPIN) return SAR_INVALIDPARAMERR;
        rc = WithApp(h, [&](Application& app, bool& changed) -> ULONG {
            Pin* p = PinOf(app, ulPINType);
            if (!p) return SAR_USER_TYPE_INVALID;
            return CheckPin(*p, szPIN, pulRetryCount, changed);
        });
        if (ulPINType == USER_TYPE || ulPINType == ADMIN_TYPE) SetLoggedIn(h, ulPINType, rc == SAR_OK);
        return rc;
    });
}

SKF_EXPORT ULONG SKF_ChangePIN(HAPPLICATION hApplication, ULONG ulPINType, LPSTR szOldPin,
                               LPSTR szNewPin, ULONG* pulRetryCount) {
    return Guarded([&]() -> ULONG {
        Handle h;
        ULONG rc = Enter(hApplication, HandleKind::Application, "SKF_ChangePIN", h);
        if (rc != SAR_OK) return rc;
        if (!szOldPin || !szNewPin) return SAR_INVALIDPARAMERR;
        std::string newPin = szNewPin;
        return WithApp(h, [&](Application& app, bool& changed) -> ULONG {
            Pin* p = PinOf(app, ulPINType);
            if (!p) return SAR_USER_TYPE_INVALID;
            ULONG check = CheckPin(*p, szOldPin, pulRetryCount, changed);
            if (check != SAR_OK) return check;
            if (newPin.size() < kMinPin || newPin.size() > kMaxPin) return SAR_PIN_LEN_RANGE;
            SetPin(*p, newPin);
            changed = true;
            if (pulRetryCount) *pulRetryCount = p->remain;
            return SAR_OK;
        });
    });
}

SKF_EXPORT ULONG SKF_GetPINInfo(HAPPLICATION hApplication, ULONG ulPINType, ULONG* pulMaxRetryCount,
                                ULONG* pulRemainRetryCount, BOOL* pbDefaultPin) {
    return Guarded([&]() -> ULONG {
        Handle h;
        ULONG rc = Enter(hApplication, HandleKind::Application, "SKF_GetPINInfo", h);
        if (rc != SAR_OK) return rc;
        return ReadToken(h.serial, [&](const Token& t) -> ULONG {
            for (const Application& a : t.apps) {
                if (a.name != h.app) continue;
                const Pin* p = ulPINType == USER_TYPE    ? &a.userPin
                               : ulPINType == ADMIN_TYPE ? &a.adminPin
                                                         : nullptr;
                if (!p) return SAR_USER_TYPE_INVALID;
                if (pulMaxRetryCount) *pulMaxRetryCount = p->maxRetry;
                if (pulRemainRetryCount) *pulRemainRetryCount = p->remain;
                if (pbDefaultPin) *pbDefaultPin = p->isDefault ? TRUE : FALSE;
                return SAR_OK;
            }
            return SAR_APPLICATION_NOT_EXISTS;
        });
    });
}

SKF_EXPORT ULONG SKF_UnblockPIN(HAPPLICATION hApplication, LPSTR szAdminPIN, LPSTR szNewUserPIN,
                                ULONG* pulRetryCount) {
    return Guarded([&]() -> ULONG {
        Handle h;
        ULONG rc = Enter(hApplication, HandleKind::Application, "SKF_UnblockPIN", h);
        if (rc != SAR_OK) return rc;
        if (!szAdminPIN || !szNewUserPIN) return SAR_INVALIDPARAMERR;
        std::string newPin = szNewUserPIN;
        rc = WithApp(h, [&](Application& app, bool& changed) -> ULONG {
            ULONG check = CheckPin(app.adminPin, szAdminPIN, pulRetryCount, changed);
            if (check != SAR_OK) return check;
            if (newPin.size() < kMinPin || newPin.size() > kMaxPin) return SAR_PIN_LEN_RANGE;
            SetPin(app.userPin, newPin);
            changed = true;
            return SAR_OK;
        });
        if (rc == SAR_OK) SetLoggedIn(h, USER_TYPE, false);
        return rc;
    });
}

SKF_EXPORT ULONG SKF_ClearSecureState(HAPPLICATION hApplication) {
    return Guarded([&]() -> ULONG {
        Handle h;
        ULONG rc = Enter(hApplication, HandleKind::Application, "SKF_ClearSecureState", h);
        if (rc != SAR_OK) return rc;
        ClearLogin(h);
        return SAR_OK;
    });
}
