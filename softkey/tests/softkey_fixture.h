// Test rig for the software key: a private store, library copies loaded under driver names,
// and helpers that provision keys through the store directly.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>

#include "core/model.h"
#include "core/softcrypto.h"
#include "core/store.h"
#include "skf/skf.h"

namespace softkey_test {

// One copy of the software key library, loaded under a file name of its own.
class SkfLibrary {
public:
    SkfLibrary(const std::string& dir, const std::string& name);
    ~SkfLibrary();
    SkfLibrary(const SkfLibrary&) = delete;
    SkfLibrary& operator=(const SkfLibrary&) = delete;

    template <typename F>
    F* Fn(const char* symbol) {
        return reinterpret_cast<F*>(Symbol(symbol));
    }

private:
    void* Symbol(const char* name);  // throws when the library has no such export
    void* m_handle = nullptr;
};

// Calls an SKF function of a library by name, with the standard's signature.
#define SKF(lib, name) (lib).Fn<decltype(::name)>(#name)

class SoftkeyTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates a key (PINs "12345678" / "70315926", 6 tries) and plugs it unless told not to.
    void AddKey(const std::string& serial, bool plugged = true,
                const std::vector<std::string>& drivers = {});
    void PlugKey(const std::string& serial);
    void UnplugKey(const std::string& serial);
    SkfLibrary& Lib(const std::string& name = "SKF_APP.dll");

    // Connects to `serial`, opens its application and verifies the user PIN.
    void OpenLoggedIn(SkfLibrary& lib, const std::string& serial, DEVHANDLE& dev, HAPPLICATION& app);

    std::string m_dir;
    softkey::Store* m_store = nullptr;
    std::map<std::string, std::unique_ptr<SkfLibrary>> m_libs;
};

// Builds an OpenSSL public key from a blob the library returned.
softkey::Pkey EccKey(const ECCPUBLICKEYBLOB& blob);

}  // namespace softkey_test
