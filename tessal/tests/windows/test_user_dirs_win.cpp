// Private directories on Windows: made for the user alone, and existing ones that others may
// change, that are not directories or not absolute refused.
#include <windows.h>
// windows.h first: aclapi.h needs its types.
#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <fstream>
#include <string>

#include "kit/user_dirs.h"
#include "kit/wide_text.h"

namespace {

class WindowsPrivateDirectory : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        m_dir = kit::NarrowToUtf8(temp) + "kit-private-" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(kit::WidenUtf8(m_dir).c_str(), nullptr));
    }
    void TearDown() override { RemoveTree(kit::WidenUtf8(m_dir)); }
    static void RemoveTree(const std::wstring& dir) {
        WIN32_FIND_DATAW entry;
        HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = entry.cFileName;
                if (name == L"." || name == L"..") continue;
                if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveTree(dir + L"\\" + name);
                else
                    DeleteFileW((dir + L"\\" + name).c_str());
            } while (FindNextFileW(search, &entry));
            FindClose(search);
        }
        RemoveDirectoryW(dir.c_str());
    }
    // Gives `sid` (a well-known account) the right to change `path`, keeping the other entries.
    static bool Allow(const std::string& path, WELL_KNOWN_SID_TYPE account, DWORD rights) {
        unsigned char sid[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof sid;
        if (!CreateWellKnownSid(account, nullptr, sid, &size)) return false;
        PACL old = nullptr, updated = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        std::wstring wide = kit::WidenUtf8(path);
        if (GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &old, nullptr, &descriptor) != ERROR_SUCCESS)
            return false;
        EXPLICIT_ACCESSW entry = {};
        entry.grfAccessPermissions = rights;
        entry.grfAccessMode = GRANT_ACCESS;
        entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        entry.Trustee.ptstrName = reinterpret_cast<LPWSTR>(sid);
        bool ok = SetEntriesInAclW(1, &entry, old, &updated) == ERROR_SUCCESS &&
                  SetNamedSecurityInfoW(&wide[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                        nullptr, nullptr, updated, nullptr) == ERROR_SUCCESS;
        if (updated) LocalFree(updated);
        LocalFree(descriptor);
        return ok;
    }
    // The accounts other than the user and the system that `path`'s list grants a right, as
    // SID strings; "?" when the list cannot be read.
    static std::string OtherAccounts(const std::string& path) {
        PACL dacl = nullptr;
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (GetNamedSecurityInfoW(kit::WidenUtf8(path).c_str(), SE_FILE_OBJECT,
                                  OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                  nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
            return "?";
        unsigned char system[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof system;
        CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size);
        std::string others = dacl ? "" : "everyone";
        for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
            void* ace = nullptr;
            GetAce(dacl, i, &ace);
            if (static_cast<ACE_HEADER*>(ace)->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
            PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart;
            if (EqualSid(sid, owner) || EqualSid(sid, reinterpret_cast<PSID>(system))) continue;
            wchar_t* text = nullptr;
            ConvertSidToStringSidW(sid, &text);
            others += (others.empty() ? "" : " ") + (text ? kit::NarrowToUtf8(text) : "?");
            if (text) LocalFree(text);
        }
        LocalFree(descriptor);
        return others;
    }
    std::string m_dir;
};

// What is made belongs to the user, and its list grants nobody else any right (wine reports the
// system account beside the user: it derives the list from the POSIX mode).
TEST_F(WindowsPrivateDirectory, MadeWithItsParentsForTheUserOnly) {
    const std::string path = m_dir + "/a/b/store";
    std::string error;
    ASSERT_TRUE(kit::EnsurePrivateDirectory(path, error)) << error;
    for (const std::string& made : {m_dir + "/a", path}) {
        const std::string others = OtherAccounts(made);
        EXPECT_EQ(others, "") << made;
    }
    EXPECT_TRUE(kit::EnsurePrivateDirectory(path, error)) << error;  // and accepted again
    // Readable by others is the user's choice, as on POSIX.
    ASSERT_TRUE(Allow(path, WinWorldSid, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE));
    EXPECT_TRUE(kit::EnsurePrivateDirectory(path, error)) << error;
    std::string backslashed = path;
    for (char& c : backslashed)
        if (c == '/') c = '\\';
    EXPECT_TRUE(kit::EnsurePrivateDirectory(backslashed, error)) << error;
}

TEST_F(WindowsPrivateDirectory, DirectoriesOthersCouldChangeAreRefused) {
    std::string error;
    const std::string open = m_dir + "/open";
    ASSERT_TRUE(kit::EnsurePrivateDirectory(open, error)) << error;
    ASSERT_TRUE(Allow(open, WinWorldSid, FILE_ADD_FILE));
    EXPECT_FALSE(kit::EnsurePrivateDirectory(open, error));
    EXPECT_NE(error.find("writable by other users"), std::string::npos) << error;

    // No list at all: everyone may do everything.
    const std::string unlisted = m_dir + "/unlisted";
    ASSERT_TRUE(kit::EnsurePrivateDirectory(unlisted, error)) << error;
    std::wstring wide = kit::WidenUtf8(unlisted);
    ASSERT_EQ(SetNamedSecurityInfoW(&wide[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, nullptr, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(kit::EnsurePrivateDirectory(unlisted, error));
    EXPECT_NE(error.find("writable by other users"), std::string::npos) << error;

    const std::string file = m_dir + "/file";
    std::ofstream(kit::WidenUtf8(file).c_str()) << "x";
    EXPECT_FALSE(kit::EnsurePrivateDirectory(file, error));
    EXPECT_NE(error.find("is not a directory"), std::string::npos) << error;

    EXPECT_FALSE(kit::EnsurePrivateDirectory("relative/dir", error));
    EXPECT_NE(error.find("not an absolute path"), std::string::npos) << error;
    EXPECT_FALSE(kit::EnsurePrivateDirectory("/no/drive", error));
}

}  // namespace
