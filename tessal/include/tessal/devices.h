// Exports for the attached keys, the current key and the user PIN.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tessal/export.h"

TESSAL_API std::vector<std::string> ZYKGetDeviceIds();
// The catalogued keys attached at the last enumeration that no driver library opened, one line
// each: "key 1EA8:C109 present; no driver library found in DIR1, DIR2" (the directories looked
// in), or "key 1EA8:C109 present; its driver library did not open it (PATH)".
TESSAL_API std::vector<std::string> ZYKGetUnopenedKeys();
TESSAL_API bool ZYKGetCurrentDeviceId(std::string& deviceId);
TESSAL_API bool ZYKChangeCurrentDeviceId(std::string& deviceId);
TESSAL_API bool ZYKGetUkeyType(std::string& type);
TESSAL_API std::string ZYKLibName();
// -1 when the PIN was verified, else the tries the key reported left (0 without a key).
TESSAL_API int ZYKVerifyPin(std::string pin, std::string deviceId);
TESSAL_API bool ZYKIsPinVerified();
TESSAL_API bool ZYKChangePIN(std::string oldPin, std::string newPin);
TESSAL_API bool ZYKUnblockPIN(std::string newPin);
// Unblocks the user PIN with the administrator PIN given (any SKF key, not only the maker's own)
// and sets it to `newPin`.
TESSAL_API bool ZYKUnblockPINWithAdminPin(std::string adminPin, std::string newPin);
TESSAL_API void ZYKClearSecureState();
TESSAL_API bool ZYKClearUkey();
TESSAL_API std::string ZYKGetContainers();
TESSAL_API bool ZYKCurrentCertIsSM2();
// Event 1: a key was added, 0: a key was removed; called on the library's listener thread.
TESSAL_API void ZYKRegister(std::function<void(int, const std::string&)>& callback);
