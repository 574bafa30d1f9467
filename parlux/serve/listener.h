// The service's listening socket and connection threads on the HTTP library's server.
#pragma once

#include <string>

#include <httplib.h>

namespace parlux::serve {

// Binds `host`:`port` (0: any free port) close-on-exec, with room for bursts of connecting
// clients, and serves connections on `threads` threads; the port bound, or -1 with errno set.
int BindListener(httplib::Server& server, const std::string& host, int port, int threads);

}  // namespace parlux::serve
