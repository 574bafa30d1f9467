#include "lib/container_access.h"

#include <cstring>

namespace softkey {

ULONG ReadContainer(HCONTAINER h, const char* function, Handle& handle,
                    const std::function<ULONG(const Container&)>& op, const std::string& arg) {
    ULONG rc = Enter(h, HandleKind::Container, function, handle, arg);
    if (rc != SAR_OK) return rc;
    return ReadToken(handle.serial, [&](const Token& t) -> ULONG {
        const Application* app = t.FindApp(handle.app);
        const Container* c = app ? app->FindContainer(handle.container) : nullptr;
        if (!c) return SAR_INVALIDHANDLEERR;
        return op(*c);
    });
}

ULONG ChangeContainer(HCONTAINER h, const char* function, Handle& handle,
                      const std::function<ULONG(Container&, bool&)>& op, const std::string& arg) {
    ULONG rc = Enter(h, HandleKind::Container, function, handle, arg);
    if (rc != SAR_OK) return rc;
    return ChangeToken(handle.serial, [&](Token& t, bool& changed) -> ULONG {
        Application* app = t.FindApp(handle.app);
        Container* c = app ? app->FindContainer(handle.container) : nullptr;
        if (!c) return SAR_INVALIDHANDLEERR;
        return op(*c, changed);
    });
}

ULONG WriteBytesOut(const Bytes& bytes, BYTE* out, ULONG* outLen) {
    if (!outLen) return SAR_INVALIDPARAMERR;
    ULONG needed = static_cast<ULONG>(bytes.size());
    if (!out) {
        *outLen = needed;
        return SAR_OK;
    }
    if (*outLen < needed) {
        *outLen = needed;
        return SAR_BUFFER_TOO_SMALL;
    }
    if (!bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
    *outLen = needed;
    return SAR_OK;
}

}  // namespace softkey
