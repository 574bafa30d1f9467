// libcurl easy handles kept between requests, so that a request does not pay for a new handle
// and its internal state (DNS cache, the handle's own multi and its wake-up sockets) every time.
#pragma once

#include <curl/curl.h>

#include <cstddef>

namespace cloud {

// One request's easy handle, taken from the process-wide pool (or made when none is idle) and
// given back when the lease ends. A handle given back is reset to libcurl's defaults first, so
// the pool keeps no pointer into a finished request and every request sets its options afresh.
// The pool is locked only to take or give back a handle, never during a transfer: requests on
// several threads each hold a handle of their own and run at the same time.
class EasyHandleLease {
public:
    EasyHandleLease();
    ~EasyHandleLease();
    EasyHandleLease(const EasyHandleLease&) = delete;
    EasyHandleLease& operator=(const EasyHandleLease&) = delete;

    // Null when no handle could be made.
    CURL* get() const { return m_curl; }

private:
    CURL* m_curl;
};

// How many easy handles the pool has made since the process started, and how many are idle.
size_t EasyHandlesMade();
size_t IdleEasyHandles();

}  // namespace cloud
