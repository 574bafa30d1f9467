// Opening a key (device, application, containers), its presence, and its user PIN.
#include <chrono>
#include <cstring>
#include <thread>

#include "api/failure.h"
#include "api/log.h"
#include "devices/key_manager.h"
#include "token/name_list.h"
#include "token/skf_ukey.h"

namespace {

constexpr ULONG kDeviceListSize = 400;
constexpr ULONG kAppListSize = 1024;
constexpr ULONG kContainerListSize = 260;
constexpr char kRecreatedApp[] = "RedozAreZezUvizI2";
constexpr char kAdminPin[] = "70315926";
constexpr char kRecreatedUserPin[] = "26184053";
constexpr char kExhaustingPin[] = "7306";
constexpr size_t kMinPinLength = 6;

const char* const kSlowLibraries[] = {"gdca_dal_ecc27.dll", "gdca_dal_szd3003_sm2.dll",
                                      "gdca_dal_szd3003_2.dll", "mtoken_gm3000_schca.dll",
                                      "mtoken_gm3000.dll"};

char* Text(const std::string& s) { return const_cast<char*>(s.c_str()); }

// Calls a listing function of the driver into a buffer of `size` bytes; logs a failure as
// "<what> fail,error is:" and the code.
template <typename List>
ULONG ListNames(List list, ULONG size, const char* what, std::vector<std::string>& names) {
    std::vector<char> buffer(size + 1, '\0');
    ULONG length = size;
    ULONG rc = list(buffer.data(), &length);
    if (rc != SAR_OK) {
        TLOG_ERROR(what << " fail,error is:" << std::hex << rc);
        return rc;
    }
    names = NameList(buffer.data(), size);
    return rc;
}

}  // namespace

int SkfUKey::OpenDelayMs() const {
    for (const char* slow : kSlowLibraries)
        if (m_libName == slow) return SettleDelayMs(3000);
    return SettleDelayMs(1000);
}

CResult SkfUKey::InitUKey() {
    CResult result = OpenDevice();
    if (result != 0) {
        TESSAL_FAIL(result, result.ErrorCode(), "SkfUKey::InitUKey");
        return result;
    }
    result = OpenApp();
    if (result != 0) {
        TESSAL_FAIL(result, result.ErrorCode(), "SkfUKey::InitUKey");
        return result;
    }
    m_opened = true;
    result = OpenContainer();
    if (result != 0) {
        TESSAL_FAIL(result, result.ErrorCode(), "SkfUKey::InitUKey");
        return result;
    }
    InitSealMap();
    return result;
}

CResult SkfUKey::OpenDevice() {
    CResult result;
    std::this_thread::sleep_for(std::chrono::milliseconds(OpenDelayMs()));
    TLOG_DEBUG("start openDevice");
    if (!m_skf.SKF_EnumDev) {
        TESSAL_FAIL(result, 5, "SkfUKey::OpenDevice");
        return result;
    }
    TLOG_DEBUG("start enum Device");
    std::vector<std::string> devices;
    auto enumDev = [this](char* buffer, ULONG* size) { return m_skf.SKF_EnumDev(TRUE, buffer, size); };
    if (ListNames(enumDev, kDeviceListSize, "EnumDev", devices) != SAR_OK) {
        TESSAL_FAIL(result, 5, "SkfUKey::OpenDevice");
        return result;
    }
    TLOG_DEBUG("start connect Device");
    for (const std::string& name : devices) {
        TLOG_DEBUG("devName is:" << name);
        ULONG rc = m_skf.SKF_ConnectDev(Text(name), &m_hDev);
        if (rc != SAR_OK) {
            TLOG_ERROR("ConectDev fail,error is:" << std::hex << rc);
            TESSAL_FAIL(result, 6, "SkfUKey::OpenDevice");
            return result;
        }
        rc = m_skf.SKF_GetDevInfo(m_hDev, &m_devInfo);
        if (rc != SAR_OK) {
            TLOG_ERROR("GetDevInfo fail,error is:" << std::hex << rc);
            TESSAL_FAIL(result, 7, "SkfUKey::OpenDevice");
            return result;
        }
        m_devInfoValid = true;
        std::string serial(m_devInfo.SerialNumber, strnlen(m_devInfo.SerialNumber, sizeof m_devInfo.SerialNumber));
        if (UKeyManager::IsKnownDeviceId(serial, this)) {
            // Another key object drives this device already.
            m_skf.SKF_DisConnectDev(m_hDev);
            m_hDev = nullptr;
            continue;
        }
        m_devName = name;
        break;
    }
    if (!m_hDev) {
        TESSAL_FAIL(result, 5, "SkfUKey::OpenDevice");
        return result;
    }
    return result;
}

std::vector<std::string> SkfUKey::ListApplications(ULONG& rc) {
    std::vector<std::string> apps;
    auto enumApps = [this](char* buffer, ULONG* size) { return m_skf.SKF_EnumApplication(m_hDev, buffer, size); };
    rc = ListNames(enumApps, kAppListSize, "SKF_EnumApplication", apps);
    return apps;
}

std::vector<std::string> SkfUKey::ListContainers(ULONG& rc) {
    std::vector<std::string> containers;
    auto enumContainers = [this](char* buffer, ULONG* size) { return m_skf.SKF_EnumContainer(m_hApp, buffer, size); };
    rc = ListNames(enumContainers, kContainerListSize, "SKF_EnumContainer", containers);
    return containers;
}

CResult SkfUKey::OpenApp() {
    CResult result;
    ULONG rc = SAR_OK;
    std::vector<std::string> apps = ListApplications(rc);
    if (rc != SAR_OK) {
        TESSAL_FAIL(result, 12, "SkfUKey::OpenApp");
        return result;
    }
    std::string first = apps.empty() ? std::string() : apps.front();
    rc = m_skf.SKF_OpenApplication(m_hDev, Text(first), &m_hApp);
    if (rc != SAR_OK) {
        TLOG_ERROR("SKF_OpenApplication fail,error is:" << std::hex << rc);
        TESSAL_FAIL(result, 15, "SkfUKey::OpenApp");
        return result;
    }
    return result;
}

bool SkfUKey::ReadContainerNames() {
    TLOG_DEBUG("enum container");
    ULONG listed = SAR_OK;
    std::vector<std::string> containers = ListContainers(listed);
    if (listed != SAR_OK) return false;
    std::vector<std::string> names;
    for (const std::string& name : containers) {
        TLOG_DEBUG("open container" << name);
        HCONTAINER h = nullptr;
        ULONG rc = m_skf.SKF_OpenContainer(m_hApp, Text(name), &h);
        if (rc == SAR_OK) {
            m_skf.SKF_CloseContainer(h);
            names.push_back(name);
        } else {
            TLOG_ERROR("SKF_OpenContainer fail,error is:" << std::hex << rc);
        }
    }
    m_containerNames.swap(names);
    return true;
}

void SkfUKey::ContainersChanged() {
    // The signing certificate is read again when next needed, from the containers as they are now.
    ForgetSignCert();
    ReadContainerNames();
}

CResult SkfUKey::OpenContainer() {
    CResult result;
    if (m_hContainer) return result;
    // A key opened again lists its containers afresh.
    m_containerNames.clear();
    if (!ReadContainerNames()) {
        TESSAL_FAIL(result, 16, "SkfUKey::OpenContainer");
        return result;
    }
    if (m_containerNames.empty()) {
        TESSAL_FAIL(result, 17, "SkfUKey::OpenContainer");
        return result;
    }
    return result;
}

CResult SkfUKey::VerifyPin(const std::string& pin, int& retry) {
    CResult result;
    if (m_libName == "SxcaCsp11_3000GM.dll") {
        Close();
        InitUKey();
    }
    if (!m_opened) {
        TESSAL_FAIL(result, 25, "SkfUKey::VerifyPin");
        return result;
    }
    ULONG r = 0;
    ULONG rc = m_skf.SKF_VerifyPIN(m_hApp, USER_TYPE, Text(pin), &r);
    retry = static_cast<int>(r);
    if (rc == SAR_OK) {
        m_pinVerified = true;
        return result;
    }
    m_pinVerified = false;
    TESSAL_FAIL(result, 20, "SkfUKey::VerifyPin");
    return result;
}

CResult SkfUKey::ChangePin(std::string newPin, std::string oldPin) {
    CResult result;
    if (oldPin.size() < kMinPinLength) {
        TESSAL_FAIL(result, 54, "SkfUKey::ChangePin");
        return result;
    }
    ULONG retry = 0;
    if (m_skf.SKF_ChangePIN(m_hApp, USER_TYPE, Text(oldPin), Text(newPin), &retry) != SAR_OK) {
        TESSAL_FAIL(result, 53, "SkfUKey::ChangePin");
        return result;
    }
    return result;
}

CResult SkfUKey::UnBlockPin(std::string newPin) { return UnBlockPin(newPin, kAdminPin); }

CResult SkfUKey::UnBlockPin(std::string newPin, const std::string& adminPin) {
    CResult result;
    // The administrator PIN is checked before the user PIN is touched: a key whose administrator
    // PIN is not ours must not be left with its user PIN locked.
    ULONG adminRetry = 0;
    if (m_skf.SKF_VerifyPIN(m_hApp, ADMIN_TYPE, Text(adminPin), &adminRetry) != SAR_OK) {
        TESSAL_FAIL(result, 55, "SkfUKey::UnBlockPin");
        return result;
    }
    ULONG max = 0, remain = 0;
    BOOL isDefault = FALSE;
    m_skf.SKF_GetPINInfo(m_hApp, USER_TYPE, &max, &remain, &isDefault);
    // Drive the user PIN into its locked state, which some keys require before unblocking.
    // Bounded by the tries the key reported, so a driver that never counts down cannot hang us.
    for (ULONG attempt = 0; remain != 0 && attempt <= max; ++attempt)
        m_skf.SKF_VerifyPIN(m_hApp, USER_TYPE, const_cast<char*>(kExhaustingPin), &remain);
    ULONG retry = 0;
    if (m_skf.SKF_UnblockPIN(m_hApp, Text(adminPin), Text(newPin), &retry) != SAR_OK) {
        TESSAL_FAIL(result, 55, "SkfUKey::UnBlockPin");
        return result;
    }
    return result;
}

void SkfUKey::ClearSecureState() {
    if (m_skf.SKF_ClearSecureState) m_skf.SKF_ClearSecureState(m_hApp);
}

CResult SkfUKey::ClearUkey() {
    CResult result;
    ULONG rc = SAR_OK;
    std::vector<std::string> apps = ListApplications(rc);
    if (rc != SAR_OK) {
        TESSAL_FAIL(result, 12, "SkfUKey::ClearUkey");
        return result;
    }
    ULONG r = 0;
    ULONG adminCode = m_skf.SKF_VerifyPIN(m_hApp, ADMIN_TYPE, const_cast<char*>(kAdminPin), &r);
    if (adminCode != SAR_OK) {
        // Not the key's administrator: its application and everything in it stay as they are.
        TESSAL_FAIL(result, static_cast<int>(adminCode), "SkfUKey::ClearUkey");
        return result;
    }
    std::string first = apps.empty() ? std::string() : apps.front();
    if (m_skf.SKF_DeleteApplication(m_hDev, Text(first)) != SAR_OK) {
        TESSAL_FAIL(result, 13, "SkfUKey::ClearUkey");
        return result;
    }
    HAPPLICATION created = nullptr;
    if (m_skf.SKF_CreateApplication(m_hDev, const_cast<char*>(kRecreatedApp), const_cast<char*>(kAdminPin), 6,
                                    const_cast<char*>(kRecreatedUserPin), 6, 0xFF, &created) != SAR_OK) {
        TESSAL_FAIL(result, 14, "SkfUKey::ClearUkey");
        return result;
    }
    // The key set is rebuilt afterwards; this handle is not kept.
    if (m_skf.SKF_CloseApplication) m_skf.SKF_CloseApplication(created);
    return result;
}

std::string SkfUKey::GetDeviceId() {
    if (!m_opened) return std::string();
    return std::string(m_devInfo.SerialNumber, strnlen(m_devInfo.SerialNumber, sizeof m_devInfo.SerialNumber));
}

bool SkfUKey::IsDevicePresent() {
    ULONG state = DEV_UNKNOW_STATE;
    if (!m_skf.SKF_GetDevState) return false;
    m_skf.SKF_GetDevState(Text(m_devName), &state);
    return state == DEV_PRESENT_STATE;
}

bool SkfUKey::IsDeviceConnected() {
    if (!m_skf.SKF_GetPINInfo) return true;
    ULONG max = 0, remain = 0;
    BOOL isDefault = FALSE;
    return m_skf.SKF_GetPINInfo(m_hApp, USER_TYPE, &max, &remain, &isDefault) != SAR_DEVICE_REMOVED;
}
