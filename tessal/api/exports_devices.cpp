// Exports of the device, PIN and basic family.
#include <algorithm>

#include "api/export_frame.h"
#include "api/log.h"
#include "tessal/devices.h"
#include "tessal/logger.h"

void ZYKWriteLog(std::string text) { TLOG_DEBUG(text); }

std::vector<std::string> ZYKGetDeviceIds() {
    ExportFrame frame;
    return frame.Manager().GetDeviceIds();
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

std::vector<std::string> ZYKGetUnopenedKeys() {
    ExportFrame frame;
    std::vector<std::string> lines;
    for (const UnopenedKey& key : frame.Manager().UnopenedKeys())
        lines.push_back(DescribeUnopened(key));
    return lines;
}

bool ZYKGetCurrentDeviceId(std::string& deviceId) {
    ExportFrame frame;
    UsbKey* key = frame.Key();
    if (!key) return false;
    std::string id = key->GetDeviceId();
    deviceId = id;
    return !id.empty();
}

bool ZYKChangeCurrentDeviceId(std::string& deviceId) {
    ExportFrame frame;
    return frame.Manager().ChangeCurrentUKey(deviceId) == 0;
}

bool ZYKGetUkeyType(std::string& type) {
    ExportFrame frame;
    UsbKey* key = frame.Key();
    if (!key) return false;
    type = std::to_string(key->GetUkeyType());
    return true;
}

std::string ZYKLibName() {
    ExportFrame frame;
    UsbKey* key = frame.Key();
    return key ? key->GetLibName() : std::string();
}

int ZYKVerifyPin(std::string pin, std::string deviceId) {
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
}

bool ZYKIsPinVerified() {
    ExportFrame frame;
    return frame.PinVerifiedKey() != nullptr;
}

bool ZYKChangePIN(std::string oldPin, std::string newPin) {
    ExportFrame frame;
    auto* key = dynamic_cast<SkfUKey*>(frame.Key());
    return key && key->ChangePin(newPin, oldPin) == 0;
}

bool ZYKUnblockPIN(std::string newPin) {
    ExportFrame frame;
    auto* key = dynamic_cast<SkfUKey*>(frame.OwnMiddlewareKey());
    return key && key->UnBlockPin(newPin) == 0;
}

bool ZYKUnblockPINWithAdminPin(std::string adminPin, std::string newPin) {
    ExportFrame frame;
    auto* key = dynamic_cast<SkfUKey*>(frame.Key());
    return key && key->UnBlockPin(newPin, adminPin) == 0;
}

void ZYKClearSecureState() {
    ExportFrame frame;
    if (auto* key = dynamic_cast<SkfUKey*>(frame.Key())) key->ClearSecureState();
}

bool ZYKClearUkey() {
    ExportFrame frame;
    auto* key = dynamic_cast<SkfUKey*>(frame.OwnMiddlewareKey());
    if (!key || key->ClearUkey() != 0) return false;
    frame.ReleaseKey();
    frame.Manager().RebuildKeySet();
    return true;
}

std::string ZYKGetContainers() {
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
}

bool ZYKCurrentCertIsSM2() {
    ExportFrame frame;
    UsbKey* key = frame.Key();
    return key && key->CurrentCertIsSM2() != 0;
}

void ZYKRegister(std::function<void(int, const std::string&)>& callback) {
    ExportFrame frame;
    frame.Manager().RegisterCallback(callback);
}
