// cloudsim: the maker's cloud and the CA side on loopback HTTPS, for tests and demos.
//   cloudsim --state DIR [--port N] [--port-file FILE]
#include <httplib.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "base64.h"
#include "behaviour.h"
#include "issuance_service.h"
#include "kit/command_line.h"
#include "listening.h"
#include "mobile_service.h"
#include "pki.h"
#include "status_service.h"
#include "time_service.h"

namespace {

std::atomic<bool> g_stopping{false};
httplib::SSLServer* g_server = nullptr;

void OnSignal(int) {
    g_stopping = true;
    if (g_server) g_server->stop();
}

// What the request looked like on arrival, for tests of the client.
std::string Echo(const httplib::Request& req) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("method");
    w.String(req.method.c_str());
    w.Key("path");
    w.String(req.path.c_str());
    w.Key("clientPort");  // the same port on two requests: one connection served both
    w.Int(req.remote_port);
    w.Key("headers");
    w.StartArray();
    for (const auto& h : req.headers) w.String((h.first + ": " + h.second).c_str());
    w.EndArray();
    w.Key("body");
    w.String(Base64Encode(req.body).c_str());
    w.Key("fields");
    w.StartObject();
    for (const auto& f : req.files) {
        w.Key(f.first.c_str());
        w.String(f.second.content.c_str());
    }
    w.EndObject();
    w.EndObject();
    return buffer.GetString();
}

void Hang() {
    for (int i = 0; i < 300 && !g_stopping; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

// Applies the answer a test asked for; true when the request was answered here.
bool Misbehave(Behaviour& behaviour, httplib::Response& res) {
    switch (behaviour.Next()) {
        case Answer::Normal: return false;
        case Answer::Garbage: res.set_content("this is not DER at all", "application/octet-stream"); return true;
        case Answer::Reject: res.set_content(TimeService::Rejection(), "application/timestamp-reply"); return true;
        case Answer::Hang: Hang(); res.status = 504; return true;
    }
    return false;
}

const char kUsage[] =
    "Usage: cloudsim --state DIR [--port N] [--port-file FILE]\n"
    "Serves the maker's cloud services (issuance, gateway, status, mobile seal, time service) and the\n"
    "CA side (time-stamp authority, OCSP responder, CRL distribution point) over HTTPS on loopback,\n"
    "for tests and demos. Stops on SIGTERM or SIGINT.\n"
    "\n"
    "Options:\n"
    "  --state DIR           where the CA keys, certificates and records live (made when missing;\n"
    "                        DIR/ca.pem is the CA a client must trust)\n"
    "  --port N              the port on 127.0.0.1 (0 to 65535; 0, the default: a free port)\n"
    "  --port-file FILE      write the port to FILE once listening\n"
    "  -h, --help            print this help and exit\n"
    "      --version         print the version and exit\n"
    "\n"
    "Exit status: 0 after a stop, 1 on failure, 2 for a usage mistake.\n";

struct Settings {
    std::string state, portFile;
    int port = 0;
};

// The command line; throws kit::cli::UsageError on a mistake.
Settings ParseCommandLine(int argc, char** argv, bool& done) {
    kit::cli::Args a = kit::cli::ParseOptions(
        argc, argv, {{"state", true}, {"port", true}, {"port-file", true}, {"version", false}});
    done = a.Has("--help") || a.Has("--version");
    if (a.Has("--help")) std::fputs(kUsage, stdout);
    else if (a.Has("--version")) std::puts(kit::cli::VersionLine("cloudsim").c_str());
    if (done) return {};
    if (!a.positional.empty()) throw kit::cli::UsageError("unexpected argument " + a.positional[0]);
    Settings s;
    s.state = a.Option("--state");
    if (s.state.empty()) throw kit::cli::UsageError("--state DIR is required");
    s.port = static_cast<int>(kit::cli::ParseNumber(a.Option("--port", "0"), 0, 65535, "--port"));
    s.portFile = a.Option("--port-file");
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    try {
        bool done = false;
        settings = ParseCommandLine(argc, argv, done);
        if (done) return 0;
    } catch (const kit::cli::UsageError& e) {
        std::fprintf(stderr, "cloudsim: %s\nTry 'cloudsim --help' for more information.\n", e.what());
        return 2;
    }
    const std::string& state = settings.state;
    const std::string& portFile = settings.portFile;
    const int port = settings.port;
    mkdir(state.c_str(), 0700);
    std::mutex lastMutex;
    std::string lastServicePath, lastTarget, lastBody;  // for tests: the last service request
    auto recordLast = [&](const httplib::Request& req) {
        std::lock_guard<std::mutex> lock(lastMutex);
        lastServicePath = req.path;
        lastTarget = req.target;
        lastBody = req.body;
    };
    Pki pki;
    std::unique_ptr<IssuanceService> issuance;
    std::unique_ptr<MobileService> mobile;
    try {
        pki = LoadOrCreatePki(state);
        issuance.reset(new IssuanceService(state, recordLast));
        mobile.reset(new MobileService(pki, state, Hang));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cloudsim: %s\n", e.what());
        return 1;
    }
    httplib::SSLServer server(pki.serverCertPath.c_str(), pki.serverKeyPath.c_str());
    if (!server.is_valid()) {
        std::fprintf(stderr, "cloudsim: cannot set up TLS\n");
        return 1;
    }
    server.set_socket_options(ExclusiveSocketOptions);
    g_server = &server;
    signal(SIGTERM, OnSignal);
    signal(SIGINT, OnSignal);

    Behaviour behaviour;
    TimeService timeService(pki);
    // The status service knows what the issuing CAs issue and counts them as its own CAs.
    StatusService statusService(pki, state);
    statusService.AddOwnCa(issuance->Ca().RsaCertificate());
    statusService.AddOwnCa(issuance->Ca().Sm2Certificate());
    issuance->OnIssued([&statusService](X509* cert) { statusService.Records().RecordIssued(cert); });
    issuance->Register(server);

    auto timestamp = [&](const httplib::Request& req, httplib::Response& res) {
        recordLast(req);
        if (!ValidTimestampToken(req.get_header_value("x-zyk-timestamp"),
                                 req.get_header_value("x-zyk-timestamp-token"))) {
            res.status = 401;
            res.set_content("{\"code\":401,\"message\":\"bad timestamp token\"}", "application/json");
            return;
        }
        if (Misbehave(behaviour, res)) return;
        res.set_content(timeService.Respond(req.body), "application/timestamp-reply");
    };
    server.Post("/timestamp/get", timestamp);
    server.Post("/timestamp/sm2time", timestamp);

    statusService.Mount(server);
    mobile->Mount(server);

    auto echo = [](const httplib::Request& req, httplib::Response& res) { res.set_content(Echo(req), "application/json"); };
    server.Get("/echo", echo);
    server.Post("/echo", echo);
    server.Get(R"(/status/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        res.status = std::atoi(req.matches[1].str().c_str());
        res.set_content("<html><body>error page</body></html>", "text/html");
    });
    server.Post("/hang", [](const httplib::Request&, httplib::Response& res) {
        Hang();
        res.status = 504;
    });
    server.Get("/_last", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(lastMutex);
        res.set_content(req.has_param("body") ? lastBody : req.has_param("target") ? lastTarget : lastServicePath,
                        "text/plain");
    });
    // Test control: the next `count` service requests answer `mode`.
    server.Post("/_control", [&](const httplib::Request& req, httplib::Response& res) {
        if (statusService.Control(req, res)) return;
        if (mobile->Control(req, res)) return;
        int count = req.has_param("count") ? std::atoi(req.get_param_value("count").c_str()) : 1;
        if (req.has_param("issuance")) {
            bool known = issuance->Control(req.get_param_value("issuance"), count);
            res.status = known ? 200 : 400;
            res.set_content(known ? "ok\n" : "unknown issuance mode\n", "text/plain");
            return;
        }
        Answer answer;
        if (!ParseAnswer(req.get_param_value("mode"), answer)) {
            res.status = 400;
            res.set_content("mode must be normal, garbage, reject or hang\n", "text/plain");
            return;
        }
        behaviour.Set(answer, count);
        res.set_content("ok\n", "text/plain");
    });

    int bound = port == 0 ? server.bind_to_any_port("127.0.0.1") : (server.bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound <= 0) {
        if (port != 0 && PortInUse(port))
            std::fprintf(stderr, "cloudsim: port %d in use\n", port);
        else
            std::fprintf(stderr, "cloudsim: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    if (!portFile.empty()) {
        std::string tmp = portFile + ".tmp";
        std::ofstream(tmp) << bound << "\n";
        std::rename(tmp.c_str(), portFile.c_str());
    }
    std::printf("cloudsim listening on 127.0.0.1:%d (state %s)\n", bound, state.c_str());
    std::fflush(stdout);
    server.listen_after_bind();
    g_server = nullptr;
    mobile.reset();
    FreePki(pki);
    return 0;
}
