// Helpers for entry points that work on one container of an application.
#pragma once

#include "lib/runtime.h"

namespace softkey {

// Resolves a container handle and runs `op` on its container, read-only.
ULONG ReadContainer(HCONTAINER h, const char* function, Handle& handle,
                    const std::function<ULONG(const Container&)>& op,
                    const std::string& arg = std::string());
// The same under the exclusive lock; the token is saved when `op` sets `changed`.
ULONG ChangeContainer(HCONTAINER h, const char* function, Handle& handle,
                      const std::function<ULONG(Container&, bool&)>& op,
                      const std::string& arg = std::string());

// Copies `bytes` out with the length rule of the interface (null buffer asks for the length).
ULONG WriteBytesOut(const Bytes& bytes, BYTE* out, ULONG* outLen);

}  // namespace softkey
