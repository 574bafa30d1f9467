// How long host calls wait while the library handles a key being plugged in and pulled out,
// with the driver binding's real pauses (no TESSAL_SETTLE_MS).
//   hotplug_bench SOFTKEY_TOOL SOFTKEY_LIBRARY WORK_DIR
#include <stdlib.h>
#include <tessal/tessal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

std::mutex g_mutex;
std::condition_variable g_cv;
int g_events = 0;

bool Run(const std::string& command) { return std::system((command + " > /dev/null").c_str()) == 0; }

// Calls ZYKGetDeviceIds in a loop until `events` callbacks have come; returns the longest call
// and the time from the start to the callback, in milliseconds.
void Measure(const char* what, int events, const std::string& command) {
    std::atomic<bool> done{false};
    double longest = 0;
    long calls = 0;
    std::thread host([&] {
        while (!done) {
            auto start = Clock::now();
            ZYKGetDeviceIds();
            double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            if (ms > longest) longest = ms;
            ++calls;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    auto start = Clock::now();
    bool ok = Run(command);
    {
        std::unique_lock<std::mutex> lock(g_mutex);
        ok = ok && g_cv.wait_for(lock, std::chrono::seconds(30), [&] { return g_events >= events; });
    }
    double notified = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    done = true;
    host.join();
    std::printf("%-8s callback after %7.1f ms; longest ZYKGetDeviceIds %7.1f ms over %ld calls%s\n", what, notified,
                longest, calls, ok ? "" : " (no callback)");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: hotplug_bench SOFTKEY_TOOL SOFTKEY_LIBRARY WORK_DIR\n");
        return 2;
    }
    const std::string tool = argv[1], library = argv[2], work = argv[3];
    setenv("SOFTKEY_STORE", (work + "/store").c_str(), 1);
    setenv("TESSAL_USB_SYSFS", (work + "/store/sys/bus/usb/devices").c_str(), 1);
    setenv("TESSAL_DRIVER_DIR", (work + "/drivers").c_str(), 1);
    setenv("TESSAL_LOG_FILE", (work + "/tessal.log").c_str(), 1);
    unsetenv("TESSAL_SETTLE_MS");
    if (!Run("rm -rf '" + work + "' && mkdir -p '" + work + "/store/sys/bus/usb/devices' '" + work + "/drivers'") ||
        !Run(tool + " install-driver --root '" + work + "/drivers' --name SKF_APP.dll --family 'SDCA&HNCA' --from '" +
             library + "'") ||
        !Run(tool + " create --serial BENCH1 --vid 1D99 --pid 0001"))
        return 1;

    std::function<void(int, const std::string&)> callback = [](int, const std::string&) {
        std::lock_guard<std::mutex> lock(g_mutex);
        ++g_events;
        g_cv.notify_all();
    };
    ZYKRegister(callback);
    const int rounds = std::getenv("BENCH_ROUNDS") ? std::atoi(std::getenv("BENCH_ROUNDS")) : 3;
    for (int i = 0; i < rounds; ++i) {
        Measure("arrival", 2 * i + 1, tool + " plug BENCH1");
        Measure("removal", 2 * i + 2, tool + " unplug BENCH1");
    }
    return 0;
}
