// Files of an application, with their read and write rights.
#include <cstring>

#include "core/faults.h"
#include "lib/runtime.h"

using namespace softkey;

namespace {

constexpr size_t kMaxFileName = 31;
constexpr size_t kMaxFiles = 64;
constexpr size_t kSpace = 4u << 20;
constexpr ULONG kOversized = 0xFFFFFFF0;  // what a faulty driver reports with the quirk

bool Allowed(const Handle& app, ULONG rights) {
    if (rights == SECURE_ANYONE_ACCOUNT) return true;
    if ((rights & SECURE_USER_ACCOUNT) && IsLoggedIn(app, USER_TYPE)) return true;
    if ((rights & SECURE_ADM_ACCOUNT) && IsLoggedIn(app, ADMIN_TYPE)) return true;
    return false;
}

ULONG NotLoggedIn(ULONG rights) {
    return rights == SECURE_NEVER_ACCOUNT ? SAR_FAIL : SAR_USER_NOT_LOGIN;
}

size_t UsedSpace(const Token& t) {
    size_t used = 0;
    for (const Application& a : t.apps)
        for (const FileEntry& f : a.files) used += f.data.size();
    return used;
}

// A list as a faulty library writes it: the names without the NULs that end the list.
ULONG WriteUnterminatedList(const std::vector<std::string>& names, LPSTR buffer, ULONG* size) {
    std::string list;
    for (const std::string& n : names) list += (list.empty() ? "" : std::string(1, '\0')) + n;
    if (*size < list.size()) return SAR_BUFFER_TOO_SMALL;
    std::memcpy(buffer, list.data(), list.size());
    *size = static_cast<ULONG>(list.size());
    return SAR_OK;
}

}  // namespace

SKF_EXPORT ULONG SKF_CreateFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulFileSize,
                                ULONG ulReadRights, ULONG ulWriteRights) {
    return Guarded([&]() -> ULONG {
        Handle h;
        std::string name = szFileName ? szFileName : "";
        ULONG rc = Enter(hApplication, HandleKind::Application, "SKF_CreateFile", h, name);
        if (rc != SAR_OK) return rc;
        if (name.empty() || name.size() > kMaxFileName) return SAR_NAMELENERR;
        return ChangeToken(h.serial, [&](Token& t, bool& changed) -> ULONG {
            Application* app = t.FindApp(h.app);
            if (!app) return SAR_APPLICATION_NOT_EXISTS;
            if (!Allowed(h, app->createFileRights)) return NotLoggedIn(app->createFileRights);
            if (app->FindFile(name)) return SAR_FILE_ALREADY_EXIST;
            if (app->files.size() >= kMaxFiles || UsedSpace(t) + ulFileSize > kSpace) return SAR_NO_ROOM;
            FileEntry f;
            f.name = name;
            f.readRights = ulReadRights;
            f.writeRights = ulWriteRights;
            f.data.assign(ulFileSize, 0);
            app->files.push_back(f);
            changed = true;
            return SAR_OK;
        });
    });
}

SKF_EXPORT ULONG SKF_DeleteFile(HAPPLICATION hApplication, LPSTR szFileName) {
    return Guarded([&]() -> ULONG {
        Handle h;
        std::string name = szFileName ? szFileName : "";
        ULONG rc = Enter(hApplication, HandleKind::Application, "SKF_DeleteFile", h, name);
        if (rc != SAR_OK) return rc;
        return ChangeToken(h.serial, [&](Token& t, bool& changed) -> ULONG {
            Application* app = t.FindApp(h.app);
            if (!app) return SAR_APPLICATION_NOT_EXISTS;
            for (size_t i = 0; i < app->files.size(); ++i) {
                if (app->files[i].name != name) continue;
                if (!Allowed(h, app->files[i].writeRights)) return NotLoggedIn(app->files[i].writeRights);
                app->files.erase(app->files.begin() + static_cast<long>(i));
                changed = true;
                return SAR_OK;
            }
            return SAR_FILE_NOT_EXIST;
        });
    });
}

SKF_EXPORT ULONG SKF_EnumFiles(HAPPLICATION hApplication, LPSTR szFileList, ULONG* pulSize) {
    return Guarded([&]() -> ULONG {
        Handle h;
        ULONG rc = Enter(hApplication, HandleKind::Application, "SKF_EnumFiles", h);
        if (rc != SAR_OK) return rc;
        return ReadToken(h.serial, [&](const Token& t) -> ULONG {
            const Application* app = t.FindApp(h.app);
            if (!app) return SAR_APPLICATION_NOT_EXISTS;
            std::vector<std::string> names;
            for (const FileEntry& f : app->files) names.push_back(f.name);
            // "oversized" answers a size query with a length no list has, as a faulty driver does.
            if (!szFileList && pulSize && !TakeQuirk(CurrentStore(), h.serial, "SKF_EnumFiles", "", "oversized").empty()) {
                *pulSize = kOversized;
                return SAR_OK;
            }
            if (szFileList && pulSize && TakeQuirk(CurrentStore(), h.serial, "SKF_EnumFiles", "", "unterminated") == "unterminated")
                return WriteUnterminatedList(names, szFileList, pulSize);
            return WriteNameList(names, szFileList, pulSize);
        });
    });
}

// Runs `op` on the named file of an application handle, read-only.
static ULONG WithFile(const Handle& h, const std::string& name,
                      const std::function<ULONG(const FileEntry&)>& op) {
    return ReadToken(h.serial, [&](const Token& t) -> ULONG {
        const Application* app = t.FindApp(h.app);
        if (!app) return SAR_APPLICATION_NOT_EXISTS;
        const FileEntry* f = app->FindFile(name);
        if (!f) return SAR_FILE_NOT_EXIST;
        return op(*f);
    });
}

SKF_EXPORT ULONG SKF_GetFileInfo(HAPPLICATION hApplication, LPSTR szFileName, FILEATTRIBUTE* pFileInfo) {
    return Guarded([&]() -> ULONG {
        Handle h;
        std::string name = szFileName ? szFileName : "";
        ULONG rc = Enter(hApplication, HandleKind::Application, "SKF_GetFileInfo", h, name);
        if (rc != SAR_OK) return rc;
        if (!pFileInfo) return SAR_INVALIDPARAMERR;
        return WithFile(h, name, [&](const FileEntry& f) -> ULONG {
            std::memset(pFileInfo, 0, sizeof *pFileInfo);
            std::memcpy(pFileInfo->FileName, f.name.data(), f.name.size());
            pFileInfo->FileSize = static_cast<ULONG>(f.data.size());
            if (TakeQuirk(CurrentStore(), h.serial, "SKF_GetFileInfo", name, "oversized") == "oversized")
                pFileInfo->FileSize = kOversized;
            pFileInfo->ReadRights = f.readRights;
            pFileInfo->WriteRights = f.writeRights;
            return SAR_OK;
        });
    });
}

SKF_EXPORT ULONG SKF_ReadFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset,
                              ULONG ulSize, BYTE* pbOutData, ULONG* pulOutLen) {
    return Guarded([&]() -> ULONG {
        Handle h;
        std::string name = szFileName ? szFileName : "";
        ULONG rc = Enter(hApplication, HandleKind::Application, "SKF_ReadFile", h, name);
        if (rc != SAR_OK) return rc;
        if (!pulOutLen) return SAR_INVALIDPARAMERR;
        return WithFile(h, name, [&](const FileEntry& f) -> ULONG {
            if (!Allowed(h, f.readRights)) return NotLoggedIn(f.readRights);
            if (ulOffset > f.data.size()) return SAR_INDATALENERR;
            size_t n = std::min<size_t>(ulSize, f.data.size() - ulOffset);
            if (!pbOutData) {
                *pulOutLen = static_cast<ULONG>(n);
                return SAR_OK;
            }
            if (*pulOutLen < n) {
                *pulOutLen = static_cast<ULONG>(n);
                return SAR_BUFFER_TOO_SMALL;
            }
            std::memcpy(pbOutData, f.data.data() + ulOffset, n);
            *pulOutLen = static_cast<ULONG>(n);
            return SAR_OK;
        });
    });
}

SKF_EXPORT ULONG SKF_WriteFile(HAPPLICATION hApplication, LPSTR szFileName, ULONG ulOffset,
                               BYTE* pbData, ULONG ulSize) {
    return Guarded([&]() -> ULONG {
        Handle h;
        std::string name = szFileName ? szFileName : "";
        ULONG rc = Enter(hApplication, HandleKind::Application, "SKF_WriteFile", h, name);
        if (rc != SAR_OK) return rc;
        if (!pbData && ulSize) return SAR_INVALIDPARAMERR;
        return ChangeToken(h.serial, [&](Token& t, bool& changed) -> ULONG {
            Application* app = t.FindApp(h.app);
            if (!app) return SAR_APPLICATION_NOT_EXISTS;
            FileEntry* f = app->FindFile(name);
            if (!f) return SAR_FILE_NOT_EXIST;
            if (!Allowed(h, f->writeRights)) return NotLoggedIn(f->writeRights);
            if (static_cast<size_t>(ulOffset) + ulSize > f->data.size()) return SAR_INDATALENERR;
            if (ulSize) std::memcpy(f->data.data() + ulOffset, pbData, ulSize);
            changed = ulSize > 0;
            return SAR_OK;
        });
    });
}
