// The service's HTTP interface: POST /convert, GET /health, GET /metrics.
#pragma once

#include <cstdint>
#include <string>

#include <httplib.h>

#include "serve/metrics.h"
#include "serve/pool_bridge.h"

namespace parlux::serve {

// The HTTP status a conversion's result code is answered with.
int HttpStatusFor(int32_t code, int32_t hr);
// The client's X-Request-Id when it can name a request in the log, else a new id.
std::string RequestIdOf(const httplib::Request& request);

// Installs the routes on `server`; `maxUploadBytes` bounds the document of a conversion.
void InstallHandlers(httplib::Server& server, PoolBridge& bridge, Metrics& metrics, uint64_t maxUploadBytes);

}  // namespace parlux::serve
