// Exports of the device, PIN and basic family.
#include <algorithm>

#include "api/export_frame.h"
#include "api/input_limits.h"
#include "api/log.h"
#include "tessal/devices.h"
#include "tessal/logger.h"

void ZYKWriteLog(std::string text) try {
    TLOG_DEBUG(text);
} catch (const std::exception& e) {
    ReportExportException(e, __func__);
}

std::vector<std::string> ZYKGetDeviceIds() try {
    ExportFrame frame;
    return frame.Manager().GetDeviceIds();
} catch (const std::exception& e) {
    return ExportFailure(e, std::vector<std::string>());
}

namespace {

std::string Joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& w : words) text += (text.empty() ? "" : ", ") + w;
    return text;
}

std::string DescribeUnopened(const UnopenedKey& key) {
    std::string vidPid = key.vpid;
    std::replace(vidPid.begin(), vidPid.end(), '&', ':');
    if (key.loaded.empty())
        return "key " + vidPid + " present; no driver library found in " + Joined(key.searched);
    return "key " + vidPid + " present; its driver library did not open it (" + Joined(key.loaded) +
           ")";
}

}  // namespace

std::vector<std::string> ZYKGetUnopenedKeys() try {
    ExportFrame frame;
    std::vector<std::string> lines;
    for (const UnopenedKey& key : frame.Manager().UnopenedKeys())
        lines.push_back(DescribeUnopened(key));
    return lines;
} catch (const std::exception& e) {
    return ExportFailure(e, std::vector<std::string>());
}

bool ZYKGetCurrentDeviceId(std::string& deviceId) try {
    ExportFrame frame;
    UsbKey* key = frame.Key();
    if (!key) return false;
    std::string id = key->GetDeviceId();
    deviceId = id;
    return !id.empty();
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKChangeCurrentDeviceId(std::string& deviceId) try {
    ExportFrame frame;
    return frame.Manager().ChangeCurrentUKey(deviceId) == 0;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKGetUkeyType(std::string& type) try {
    ExportFrame frame;
    UsbKey* key = frame.Key();
    if (!key) return false;
    type = std::to_string(key->GetUkeyType());
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

std::string ZYKLibName() try {
    ExportFrame frame;
    UsbKey* key = frame.Key();
    return key ? key->GetLibName() : std::string();
} catch (const std::exception& e) {
    return ExportFailure(e, std::string());
}

int ZYKVerifyPin(std::string pin, std::string deviceId) try {
    ExportFrame frame;
    UsbKey* key = frame.Key();
    if (!key) return 0;
    int retry = -1;
    if (deviceId.empty()) deviceId = key->GetDeviceId();
    // The PIN is verified on the key named, which the manager takes itself.
    frame.ReleaseKey();
    CResult result = frame.Manager().VerifyPin(pin, deviceId, &retry);
    if (result == 0) return -1;
    // A failure before the key counted must not look like the success value.
    return retry == -1 ? 0 : retry;
} catch (const std::exception& e) {
    return ExportFailure(e, 0);
}

bool ZYKIsPinVerified() try {
    ExportFrame frame;
    return frame.PinVerifiedKey() != nullptr;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKChangePIN(std::string oldPin, std::string newPin) try {
    ExportFrame frame;
    auto* key = dynamic_cast<SkfUKey*>(frame.Key());
    return key && key->ChangePin(newPin, oldPin) == 0;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKUnblockPIN(std::string newPin) try {
    ExportFrame frame;
    auto* key = dynamic_cast<SkfUKey*>(frame.OwnMiddlewareKey());
    return key && key->UnBlockPin(newPin) == 0;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

bool ZYKUnblockPINWithAdminPin(std::string adminPin, std::string newPin) try {
    ExportFrame frame;
    auto* key = dynamic_cast<SkfUKey*>(frame.Key());
    return key && key->UnBlockPin(newPin, adminPin) == 0;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

void ZYKClearSecureState() try {
    ExportFrame frame;
    if (auto* key = dynamic_cast<SkfUKey*>(frame.Key())) key->ClearSecureState();
} catch (const std::exception& e) {
    ReportExportException(e, __func__);
}

bool ZYKClearUkey() try {
    ExportFrame frame;
    auto* key = dynamic_cast<SkfUKey*>(frame.OwnMiddlewareKey());
    if (!key || key->ClearUkey() != 0) return false;
    frame.ReleaseKey();
    frame.Manager().RebuildKeySet();
    return true;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

std::string ZYKGetContainers() try {
    ExportFrame frame;
    UsbKey* key = frame.Key();
    auto* skf = dynamic_cast<SkfUKey*>(key);
    if (!skf) return std::string();
    std::string joined;
    for (const std::string& name : skf->GetContainerNames()) {
        if (!joined.empty()) joined += ";";
        joined += name;
    }
    return joined;
} catch (const std::exception& e) {
    return ExportFailure(e, std::string());
}

bool ZYKCurrentCertIsSM2() try {
    ExportFrame frame;
    UsbKey* key = frame.Key();
    return key && key->CurrentCertIsSM2() != 0;
} catch (const std::exception& e) {
    return ExportFailure(e, false);
}

void ZYKRegister(std::function<void(int, const std::string&)>& callback) try {
    ExportFrame frame;
    frame.Manager().RegisterCallback(callback);
} catch (const std::exception& e) {
    ReportExportException(e, __func__);
}
