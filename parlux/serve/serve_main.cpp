#include "serve/serve_main.h"

#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "log.h"
#include "records.h"
#include "serve/http_handlers.h"
#include "serve/listener.h"
#include "serve/metrics.h"
#include "serve/pool_bridge.h"
#include "serve/serve_options.h"
#include "supervision_text.h"

namespace parlux {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSpareThreads = 4;          // for /health, /metrics and quick refusals while all convert
constexpr auto kDrainGrace = std::chrono::seconds(15);  // for offices to quit once the last job ended
constexpr int kSignalPollMs = 200;

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, sig);
    return set;
}

// The next stop signal within `ms`, or 0.
int NextSignal(const sigset_t& set, int ms) {
    timespec wait = {ms / 1000, (ms % 1000) * 1000000L};
    int sig = sigtimedwait(&set, nullptr, &wait);
    return sig > 0 ? sig : 0;
}

// Waits for SIGTERM (or SIGINT, SIGHUP), then drains: no new request, the admitted ones end
// (at most the time-out and a grace period later; a second signal cuts it short), their
// answers are sent, then the server stops.
void AwaitDrain(serve::PoolBridge& bridge, serve::AnswersInFlight& answers, httplib::Server& server, int timeoutMs) {
    sigset_t set = StopSignals();
    int sig = 0;
    while ((sig = NextSignal(set, kSignalPollMs)) == 0 && !bridge.Draining()) {
    }
    writeLog(kInfo, std::string("serve draining on ") + (sig ? strsignal(sig) : "the pool's end"));
    bridge.Drain();
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs) + kDrainGrace;
    while (!bridge.AwaitStopped(Clock::now() + std::chrono::milliseconds(kSignalPollMs))) {
        if (NextSignal(set, 0) != 0 || Clock::now() >= deadline) {
            writeLog(kWarn, "serve drain cut short: the running conversions are cancelled");
            bridge.Stop();
            break;
        }
    }
    answers.AwaitNone(Clock::now() + kDrainGrace);
    for (int i = 0; i < 500 && !server.is_running(); ++i)  // a signal right at the start
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    server.stop();
}

}  // namespace

int serveMain(int argc, char** argv) {
    serve::ServeOptions options;
    if (!serve::ParseServeOptions(argc, argv, options)) {
        std::fprintf(stderr, "%s\n", serve::kServeUsageLine);
        return kInvalidArguments;
    }
    if (options.timeoutMs > 0) setenv("PARLUX_TIMEOUT_MS", std::to_string(options.timeoutMs).c_str(), 1);
    // Stop signals are taken by the drain alone: blocked in every thread started from here.
    sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a client gone mid-answer is an error on that write only

    serve::Metrics metrics;
    serve::PoolBridge bridge(options.pool, options.queue, metrics);
    httplib::Server server;
    serve::AnswersInFlight answers;
    serve::InstallHandlers(server, bridge, metrics, answers, options.maxUploadBytes);
    int threads = options.pool.slots + options.queue + kSpareThreads;
    int port = serve::BindListener(server, options.host, options.port, threads);
    if (port < 0) {
        std::fprintf(stderr, "Unable to listen on %s:%d (%s).\n", options.host.c_str(), options.port,
                     std::strerror(errno));
        return 1;
    }
    if (!bridge.Start()) {
        std::fprintf(stderr, "Unable to start the worker pool (%s).\n", std::strerror(errno));
        return 1;
    }
    std::string where = (options.host.find(':') != std::string::npos ? "[" + options.host + "]" : options.host) +
                        ":" + std::to_string(port);
    std::string line = "parlux serve listening on http://" + where + " jobs=" + std::to_string(options.pool.slots) +
                       " queue=" + std::to_string(options.queue);
    writeLog(kInfo, line);
    std::fprintf(stderr, "%s\n", line.c_str());
    int timeoutMs = options.timeoutMs > 0 ? options.timeoutMs : readTimeout();
    std::thread drain([&] { AwaitDrain(bridge, answers, server, timeoutMs); });
    server.listen_after_bind();  // until the drain stops it, with every connection taken served
    drain.join();
    bridge.Stop();
    writeLog(kInfo, "serve stopped");
    return 0;
}

}  // namespace parlux
