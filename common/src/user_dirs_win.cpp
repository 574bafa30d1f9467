// The user's directories on Windows. A private directory is one the user owns whose access list
// lets nobody else change it: made with a protected list granting the user alone full control
// (inherited by what is made inside), or, when it exists, checked with GetNamedSecurityInfoW.
#include <windows.h>
// windows.h first: aclapi.h needs its types.
#include <aclapi.h>
#include <sddl.h>

#include <cctype>
#include <cstdlib>
#include <memory>
#include <vector>

#include "kit/user_dirs.h"
#include "kit/wide_text.h"

namespace kit {

std::string HomeDirectory() {
    const wchar_t* profile = _wgetenv(L"USERPROFILE");
    return profile ? NarrowToUtf8(profile) : std::string();
}

namespace {

// What lets a holder change a directory or what is in it.
const DWORD kChangingRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD |
                              FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA | DELETE | WRITE_DAC |
                              WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// "C:/…" or "C:\…", or a UNC path ("//server/share/…").
bool IsAbsolute(const std::string& path) {
    if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
        IsSeparator(path[2]))
        return true;
    return path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = n && text ? std::wstring(text, n) : std::wstring();
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' ' || message.back() == L'.'))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(code) : NarrowToUtf8(message);
}

std::string SidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return "an unknown account";
    std::string result = NarrowToUtf8(text);
    LocalFree(text);
    return result;
}

// One piece of the process token's information (TokenUser, TokenOwner).
std::vector<unsigned char> TokenInformation(TOKEN_INFORMATION_CLASS kind) {
    HANDLE token = nullptr;
    std::vector<unsigned char> buffer;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return buffer;
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    buffer.resize(size);
    if (size == 0 || !GetTokenInformation(token, kind, buffer.data(), size, &size)) buffer.clear();
    CloseHandle(token);
    return buffer;
}

// The accounts a directory of the user's may belong to and be changed by: the user, the owner
// the user's new objects get (on Windows an administrator's may be the Administrators group),
// and the system itself (as root on POSIX).
class Accounts {
public:
    Accounts()
        : m_user(TokenInformation(TokenUser)), m_owner(TokenInformation(TokenOwner)) {
        DWORD size = sizeof m_system;
        if (!CreateWellKnownSid(WinLocalSystemSid, nullptr, m_system, &size)) m_system[0] = 0;
    }
    PSID User() const {
        return m_user.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(m_user.data())->User.Sid;
    }
    bool OwnsForTheUser(PSID sid) const {
        PSID owner = m_owner.empty()
                         ? nullptr
                         : reinterpret_cast<const TOKEN_OWNER*>(m_owner.data())->Owner;
        return EqualSid(sid, User()) || (owner && EqualSid(sid, owner));
    }
    bool MayChange(PSID sid) const {
        return OwnsForTheUser(sid) || (m_system[0] && EqualSid(sid, reinterpret_cast<PSID>(const_cast<unsigned char*>(m_system))));
    }

private:
    std::vector<unsigned char> m_user, m_owner;
    unsigned char m_system[SECURITY_MAX_SID_SIZE];
};

// Security attributes for a new directory: owned by the user, a protected list with one entry
// giving the user full control, inherited by files and directories made inside.
class PrivateSecurity {
public:
    explicit PrivateSecurity(PSID user) {
        EXPLICIT_ACCESSW entry = {};
        entry.grfAccessPermissions = GENERIC_ALL;
        entry.grfAccessMode = SET_ACCESS;
        entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
        entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        entry.Trustee.TrusteeType = TRUSTEE_IS_USER;
        entry.Trustee.ptstrName = static_cast<LPWSTR>(user);
        if (SetEntriesInAclW(1, &entry, nullptr, &m_acl) != ERROR_SUCCESS) m_acl = nullptr;
        m_ok = m_acl && InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) &&
               SetSecurityDescriptorOwner(&m_descriptor, user, FALSE) &&
               SetSecurityDescriptorDacl(&m_descriptor, TRUE, m_acl, FALSE) &&
               SetSecurityDescriptorControl(&m_descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
        m_attributes.nLength = sizeof m_attributes;
        m_attributes.lpSecurityDescriptor = &m_descriptor;
        m_attributes.bInheritHandle = FALSE;
    }
    ~PrivateSecurity() {
        if (m_acl) LocalFree(m_acl);
    }
    PrivateSecurity(const PrivateSecurity&) = delete;
    PrivateSecurity& operator=(const PrivateSecurity&) = delete;
    bool Ok() const { return m_ok; }
    SECURITY_ATTRIBUTES* Attributes() { return &m_attributes; }

private:
    PACL m_acl = nullptr;
    SECURITY_DESCRIPTOR m_descriptor = {};
    SECURITY_ATTRIBUTES m_attributes = {};
    bool m_ok = false;
};

// Makes `path` (and its missing parents, as on POSIX) private when missing.
bool MakeDirectory(const std::string& path, PrivateSecurity& security, std::string& error) {
    size_t cut = path.size();
    while (cut > 0 && IsSeparator(path[cut - 1])) --cut;
    const std::string trimmed = path.substr(0, cut);
    if (GetFileAttributesW(WidenUtf8(trimmed).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    size_t slash = trimmed.find_last_of("/\\");
    if (slash != std::string::npos && slash > 2 && !MakeDirectory(trimmed.substr(0, slash), security, error))
        return false;
    if (!CreateDirectoryW(WidenUtf8(trimmed).c_str(), security.Attributes()) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
        error = "cannot create " + trimmed + ": " + SystemMessage(GetLastError());
        return false;
    }
    return true;
}

// Whether the list lets an account other than those of `accounts` change the directory.
bool OthersMayChange(PACL dacl, const Accounts& accounts) {
    if (!dacl) return true;  // no list: everyone has every right
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) return true;
        auto* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        PSID sid = &allowed->SidStart;
        if ((allowed->Mask & kChangingRights) && !accounts.MayChange(sid)) return true;
    }
    return false;
}

}  // namespace

bool EnsurePrivateDirectory(const std::string& path, std::string& error) {
    if (!IsAbsolute(path)) {
        error = "the directory \"" + path + "\" is not an absolute path";
        return false;
    }
    Accounts accounts;
    if (!accounts.User()) {
        error = "cannot read the user's account: " + SystemMessage(GetLastError());
        return false;
    }
    PrivateSecurity security(accounts.User());
    if (!security.Ok()) {
        error = "cannot make a private access list: " + SystemMessage(GetLastError());
        return false;
    }
    if (!MakeDirectory(path, security, error)) return false;
    const std::wstring wide = WidenUtf8(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = "cannot examine " + path + ": " + SystemMessage(GetLastError());
        return false;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        error = path + " is not a directory" +
                std::string((attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? " (a symbolic link)" : "");
        return false;
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD status = GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT,
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         &owner, nullptr, &dacl, nullptr, &descriptor);
    if (status != ERROR_SUCCESS) {
        error = "cannot read who may change " + path + ": " + SystemMessage(status);
        return false;
    }
    std::unique_ptr<void, decltype(&LocalFree)> held(descriptor, &LocalFree);
    if (!owner || !accounts.OwnsForTheUser(owner)) {
        error = path + " belongs to another user (" + (owner ? SidText(owner) : "no owner") + ")";
        return false;
    }
    if (OthersMayChange(dacl, accounts)) {
        error = path + " is writable by other users";
        return false;
    }
    return true;
}

}  // namespace kit
