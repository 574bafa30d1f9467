// Building and releasing key objects, and binding a vendor SKF library.
#include <cstdio>
#include <cstdlib>

#include "api/console.h"
#include "api/failure.h"
#include "api/log.h"
#include "devices/device_catalogue.h"
#include "platform/module_loader.h"
#include "platform/program_paths.h"
#include "tessal/cert_info.h"
#include "token/skf_ukey.h"

namespace {

// The maker's own middleware libraries: keys of kind 0.
const char* const kOwnMiddleware[] = {
    "EsZYKEBankCspV2.dll",           "libEsZYKMidware.dylib",
    "libZYKEBankMidware_x64.so",     "libZYKEBankMidware_arm64_rls.so",
    "libZYKEBankMidware_loongarch64_rls.so", "libZYKEBankMidware_mips64_rls.so"};

constexpr char kWatchDataLibrary[] = "WDSKF.dll";
constexpr char kWatchDataPath[] = "C:\\Windows\\SysWOW64\\WatchDataV5\\SDRZ Bank CSP v3.4\\WDSKF.dll";

}  // namespace

UsbKey::UsbKey() = default;

UsbKey::~UsbKey() {
    for (auto& entry : m_sealMap) delete entry.second;
    m_sealMap.clear();
}

int SettleDelayMs(int fallback) {
    const char* env = std::getenv("TESSAL_SETTLE_MS");
    if (!env || !*env) return fallback;
    char* end = nullptr;
    long v = std::strtol(env, &end, 10);
    return (*end == '\0' && v >= 0 && v <= 60000) ? static_cast<int>(v) : fallback;
}

SkfUKey::SkfUKey(std::string libName) {
    m_sealMap.reserve(8);
    m_sealMap.max_load_factor(1.0f);
    m_ukeyType = 1;
    for (const char* own : kOwnMiddleware)
        if (libName == own) m_ukeyType = 0;
    m_libName = std::move(libName);
    InitFuncList();
    InitUKey();
}

CResult SkfUKey::InitFuncList() {
    TLOG_TRACE_METHOD("========== SkfUKey::InitFuncList() ==========");
    CResult result;
    m_skf = SkfFunctionList();

    // The first driver directory that holds a loadable copy of the library is the key's.
    for (const std::string& dir : LibraryDirectories(m_libName)) {
        TLOG_DEBUG(dir);
        m_hSkfModule = platform::LoadModule(platform::JoinPath(dir, m_libName));
        if (m_hSkfModule) {
            m_libDir = dir;
            break;
        }
        TLOG_DEBUG(m_libName << " " << platform::LastModuleError());
    }
    if (m_libName == kWatchDataLibrary) {
        // This vendor's library is always taken from its fixed installation path.
        platform::UnloadModule(m_hSkfModule);
        m_hSkfModule = platform::LoadModule(kWatchDataPath);
    }
    if (!m_hSkfModule) {
        TESSAL_FAIL(result, 11, "SkfUKey::InitFuncList");
        return result;
    }
    TLOG_DEBUG(m_libName << " load!");

#define TESSAL_SKF_RESOLVE(member, symbol, type) \
    m_skf.member = reinterpret_cast<type*>(platform::ModuleSymbol(m_hSkfModule, symbol));
    TESSAL_SKF_FUNCTIONS(TESSAL_SKF_RESOLVE)
#undef TESSAL_SKF_RESOLVE

    if (!m_skf.SKF_WaitForDevEvent) {
        TESSAL_FAIL(result, 11, "SkfUKey::InitFuncList");
        return result;
    }
    TLOG_DEBUG(m_libName << " load success!");
    LoadSealLibrary();
    LoadANCALibrary();
    ConsoleLine("end initFunclist\n");
    return result;
}

std::string SkfUKey::ModulePath(const std::string& fileName) const {
    return platform::JoinPath(m_libDir, fileName);
}

void SkfUKey::Close() {
    m_opened = false;
    m_devInfoValid = false;
    CloseContainerHandle();
    if (m_hApp) {
        if (m_skf.SKF_CloseApplication) m_skf.SKF_CloseApplication(m_hApp);
        m_hApp = nullptr;
    }
    if (m_hDev) {
        if (m_skf.SKF_DisConnectDev) m_skf.SKF_DisConnectDev(m_hDev);
        m_hDev = nullptr;
    }
}

void SkfUKey::ForgetSignCert() {
    m_signingMaterial.Reset();
    delete m_signCertInfo;
    m_signCertInfo = nullptr;
    if (m_signCert) X509_free(m_signCert);
    m_signCert = nullptr;
}

void SkfUKey::ReleaseKey() {
    ForgetSignCert();
    m_opened = false;
    if (m_ukeyType == 0) Close();
}

SkfUKey::~SkfUKey() {
    ReleaseKey();
    platform::UnloadModule(m_hSkfModule);
    m_hSkfModule = nullptr;
    m_skf = SkfFunctionList();
    UnloadSealLibrary();
}
