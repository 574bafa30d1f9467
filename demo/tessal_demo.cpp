// A first look at the kit: a software key comes and goes while a host uses libtessal.
//   tessal-demo SOFTKEY_TOOL SERIAL
// The caller has created the key SERIAL (unplugged) and installed its driver library.
#include <tessal/tessal.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::mutex g_mutex;
std::condition_variable g_cv;
std::vector<std::pair<int, std::string>> g_events;

bool WaitForEvents(size_t count) {
    std::unique_lock<std::mutex> lock(g_mutex);
    return g_cv.wait_for(lock, std::chrono::seconds(30), [&] { return g_events.size() >= count; });
}

std::string Joined(const std::vector<std::string>& ids) {
    std::string text;
    for (const std::string& id : ids) text += (text.empty() ? "" : ", ") + id;
    return "[" + text + "]";
}

bool Run(const std::string& command) { return std::system((command + " > /dev/null").c_str()) == 0; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tessal-demo SOFTKEY_TOOL SERIAL\n");
        return 2;
    }
    const std::string tool = argv[1], serial = argv[2];
    std::printf("libtessal loaded; ZYKGetLastError() = \"%s\"\n", ZYKGetLastError().c_str());

    std::function<void(int, const std::string&)> callback = [](int event, const std::string& id) {
        std::printf("  callback: key %s %s\n", id.c_str(), event == 1 ? "arrived" : "left");
        std::lock_guard<std::mutex> lock(g_mutex);
        g_events.emplace_back(event, id);
        g_cv.notify_all();
    };
    ZYKRegister(callback);
    std::printf("keys attached: %s\n", Joined(ZYKGetDeviceIds()).c_str());

    std::printf("plugging in the software key %s ...\n", serial.c_str());
    if (!Run(tool + " plug " + serial) || !WaitForEvents(1)) {
        std::fprintf(stderr, "the key did not arrive\n");
        return 1;
    }
    std::printf("keys attached: %s, driven by %s\n", Joined(ZYKGetDeviceIds()).c_str(), ZYKLibName().c_str());
    int tries = ZYKVerifyPin("00000000", "");
    std::printf("ZYKVerifyPin with a wrong PIN: %d tries left (\"%s\")\n", tries, ZYKGetLastError().c_str());
    tries = ZYKVerifyPin("12345678", "");
    std::printf("ZYKVerifyPin with the right PIN: %d (verified: %s)\n", tries, ZYKIsPinVerified() ? "yes" : "no");

    std::string id, cn, c, o, serial_, start, end, alg, icn, ic, il, ist, io, iou, iemail;
    if (ZYKGetCertInfo(id, cn, c, o, serial_, start, end, alg, icn, ic, il, ist, io, iou, iemail, "", "")) {
        std::printf("signing certificate on key %s:\n", id.c_str());
        std::printf("  subject   CN=%s, O=%s, C=%s\n", cn.c_str(), o.c_str(), c.c_str());
        std::printf("  issuer    CN=%s, O=%s, C=%s\n", icn.c_str(), io.c_str(), ic.c_str());
        std::printf("  serial    %s, algorithm %s\n", serial_.c_str(), alg.c_str());
        std::printf("  valid     %s to %s\n", start.c_str(), end.c_str());
    } else {
        std::printf("no certificate on the key: %s\n", ZYKGetLastError().c_str());
    }

    std::printf("pulling the key out ...\n");
    if (!Run(tool + " unplug " + serial) || !WaitForEvents(2)) {
        std::fprintf(stderr, "the key did not leave\n");
        return 1;
    }
    std::printf("keys attached: %s; ZYKIsPinVerified() now says \"%s\"\n", Joined(ZYKGetDeviceIds()).c_str(),
                ZYKIsPinVerified() ? "verified" : ZYKGetLastError().c_str());

    ZYKWriteLog("tessal-demo: done");
    const char* logFile = std::getenv("TESSAL_LOG_FILE");
    std::printf("the library's log is %s\n", logFile ? logFile : "~/.zyk/ZYKUKeyDriver.log");
    return 0;
}
