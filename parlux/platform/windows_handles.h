// Windows handles of the converter: closed when they go out of scope, and what is read from a
// process handle.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace parlux::platform {

class ScopedHandle {
public:
    ScopedHandle() = default;
    explicit ScopedHandle(HANDLE handle)
        : m_handle(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~ScopedHandle() { reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    HANDLE get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    void reset(HANDLE handle = nullptr) {
        if (m_handle) CloseHandle(m_handle);
        m_handle = handle == INVALID_HANDLE_VALUE ? nullptr : handle;
    }
    HANDLE release() {
        HANDLE handle = m_handle;
        m_handle = nullptr;
        return handle;
    }

private:
    HANDLE m_handle = nullptr;
};

// The creation time of a process (100-ns units since 1601, UTC, the unit of TicksNow).
bool ProcessCreationTime(HANDLE process, uint64_t& created);
// The lowered last component of the process's full image path; empty when it cannot be read.
std::string ProcessImageName(HANDLE process);

}  // namespace parlux::platform
