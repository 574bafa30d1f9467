// The service's HTTP interface: POST /convert, GET /health, GET /metrics.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include <httplib.h>

#include "serve/metrics.h"
#include "serve/pool_bridge.h"

namespace parlux::serve {

// The HTTP status a conversion's result code is answered with.
int HttpStatusFor(int32_t code, int32_t hr);
// The client's X-Request-Id when it can name a request in the log, else a new id.
std::string RequestIdOf(const httplib::Request& request);

// PDFs being sent: the server must not stop under them (it would cut them short).
class AnswersInFlight {
public:
    void Begin();
    void End();
    // Waits until none is being sent, at most until `deadline`.
    void AwaitNone(std::chrono::steady_clock::time_point deadline);

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_count = 0;
};

// Installs the routes on `server`; `maxUploadBytes` bounds the document of a conversion.
void InstallHandlers(httplib::Server& server, PoolBridge& bridge, Metrics& metrics, AnswersInFlight& answers,
                     uint64_t maxUploadBytes);

}  // namespace parlux::serve
