// Containers: creation, listing, type, certificates and public keys.
#include <cstring>

#include "lib/container_access.h"
#include "lib/key_blobs.h"

using namespace softkey;

namespace {

constexpr size_t kMaxContainerName = 64;
constexpr size_t kMaxContainers = 16;

}  // namespace

SKF_EXPORT ULONG SKF_CreateContainer(HAPPLICATION hApplication, LPSTR szContainerName,
                                     HCONTAINER* phContainer) {
    return Guarded([&]() -> ULONG {
        Handle app;
        std::string name = szContainerName ? szContainerName : "";
        ULONG rc = Enter(hApplication, HandleKind::Application, "SKF_CreateContainer", app, name);
        if (rc != SAR_OK) return rc;
        if (!phContainer) return SAR_INVALIDPARAMERR;
        if (name.empty() || name.size() > kMaxContainerName) return SAR_NAMELENERR;
        if (!IsLoggedIn(app, USER_TYPE)) return SAR_USER_NOT_LOGIN;
        rc = ChangeToken(app.serial, [&](Token& t, bool& changed) -> ULONG {
            Application* a = t.FindApp(app.app);
            if (!a) return SAR_APPLICATION_NOT_EXISTS;
            if (a->FindContainer(name)) return SAR_FAIL;
            if (a->containers.size() >= kMaxContainers) return SAR_REACH_MAX_CONTAINER_COUNT;
            Container c;
            c.name = name;
            a->containers.push_back(c);
            changed = true;
            return SAR_OK;
        });
        if (rc != SAR_OK) return rc;
        Handle h = app;
        h.kind = HandleKind::Container;
        h.container = name;
        *phContainer = NewHandle(h);
        return SAR_OK;
    });
}

SKF_EXPORT ULONG SKF_DeleteContainer(HAPPLICATION hApplication, LPSTR szContainerName) {
    return Guarded([&]() -> ULONG {
        Handle app;
        std::string name = szContainerName ? szContainerName : "";
        ULONG rc = Enter(hApplication, HandleKind::Application, "SKF_DeleteContainer", app, name);
        if (rc != SAR_OK) return rc;
        return ChangeToken(app.serial, [&](Token& t, bool& changed) -> ULONG {
            Application* a = t.FindApp(app.app);
            if (!a) return SAR_APPLICATION_NOT_EXISTS;
            for (size_t i = 0; i < a->containers.size(); ++i) {
                if (a->containers[i].name != name) continue;
                a->containers.erase(a->containers.begin() + static_cast<long>(i));
                changed = true;
                return SAR_OK;
            }
            return SAR_FAIL;
        });
    });
}

SKF_EXPORT ULONG SKF_OpenContainer(HAPPLICATION hApplication, LPSTR szContainerName,
                                   HCONTAINER* phContainer) {
    return Guarded([&]() -> ULONG {
        Handle app;
        std::string name = szContainerName ? szContainerName : "";
        ULONG rc = Enter(hApplication, HandleKind::Application, "SKF_OpenContainer", app, name);
        if (rc != SAR_OK) return rc;
        if (!phContainer) return SAR_INVALIDPARAMERR;
        rc = ReadToken(app.serial, [&](const Token& t) -> ULONG {
            const Application* a = t.FindApp(app.app);
            if (!a) return SAR_APPLICATION_NOT_EXISTS;
            return a->FindContainer(name) ? SAR_OK : SAR_FAIL;
        });
        if (rc != SAR_OK) return rc;
        Handle h = app;
        h.kind = HandleKind::Container;
        h.container = name;
        *phContainer = NewHandle(h);
        return SAR_OK;
    });
}

SKF_EXPORT ULONG SKF_CloseContainer(HCONTAINER hContainer) {
    return Guarded([&]() -> ULONG { return CloseHandleOf(hContainer, HandleKind::Container); });
}

SKF_EXPORT ULONG SKF_EnumContainer(HAPPLICATION hApplication, LPSTR szContainerName, ULONG* pulSize) {
    return Guarded([&]() -> ULONG {
        Handle app;
        ULONG rc = Enter(hApplication, HandleKind::Application, "SKF_EnumContainer", app);
        if (rc != SAR_OK) return rc;
        return ReadToken(app.serial, [&](const Token& t) -> ULONG {
            const Application* a = t.FindApp(app.app);
            if (!a) return SAR_APPLICATION_NOT_EXISTS;
            std::vector<std::string> names;
            for (const Container& c : a->containers) names.push_back(c.name);
            return WriteNameList(names, szContainerName, pulSize);
        });
    });
}

SKF_EXPORT ULONG SKF_GetContainerType(HCONTAINER hContainer, ULONG* pulContainerType) {
    return Guarded([&]() -> ULONG {
        if (!pulContainerType) return SAR_INVALIDPARAMERR;
        Handle h;
        return ReadContainer(hContainer, "SKF_GetContainerType", h, [&](const Container& c) {
            const std::optional<KeyPair>& key = c.signKey ? c.signKey : c.encKey;
            *pulContainerType = !key                      ? CONTAINER_TYPE_EMPTY
                                : key->alg == KeyAlg::Rsa ? CONTAINER_TYPE_RSA
                                                          : CONTAINER_TYPE_ECC;
            return SAR_OK;
        });
    });
}

SKF_EXPORT ULONG SKF_ImportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert,
                                       ULONG ulCertLen) {
    return Guarded([&]() -> ULONG {
        if (!pbCert || ulCertLen == 0) return SAR_INVALIDPARAMERR;
        Handle h;
        return ChangeContainer(hContainer, "SKF_ImportCertificate", h, [&](Container& c, bool& changed) -> ULONG {
            if (!IsLoggedIn(h, USER_TYPE)) return SAR_USER_NOT_LOGIN;
            (bSignFlag ? c.signCert : c.encCert).assign(pbCert, pbCert + ulCertLen);
            changed = true;
            return SAR_OK;
        });
    });
}

SKF_EXPORT ULONG SKF_ExportCertificate(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbCert,
                                       ULONG* pulCertLen) {
    return Guarded([&]() -> ULONG {
        Handle h;
        return ReadContainer(hContainer, "SKF_ExportCertificate", h, [&](const Container& c) -> ULONG {
            const Bytes& cert = bSignFlag ? c.signCert : c.encCert;
            if (cert.empty()) return SAR_CERTNOTFOUNTERR;
            return WriteBytesOut(cert, pbCert, pulCertLen);
        });
    });
}

SKF_EXPORT ULONG SKF_ExportPublicKey(HCONTAINER hContainer, BOOL bSignFlag, BYTE* pbBlob,
                                     ULONG* pulBlobLen) {
    return Guarded([&]() -> ULONG {
        Handle h;
        return ReadContainer(hContainer, "SKF_ExportPublicKey", h, [&](const Container& c) -> ULONG {
            const std::optional<KeyPair>& key = bSignFlag ? c.signKey : c.encKey;
            if (!key) return SAR_KEYNOTFOUNTERR;
            Bytes blob;
            if (!PublicBlobOf(*key, blob)) return SAR_FAIL;
            return WriteBytesOut(blob, pbBlob, pulBlobLen);
        });
    });
}
