// A first look at the kit: loads libtessal, shows the last-error text and writes to the log.
#include <tessal/tessal.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main() {
    std::printf("libtessal loaded; ZYKGetLastError() = \"%s\"\n", ZYKGetLastError().c_str());

    ZYKWriteLog("tessal-demo: hello from the demo");
    const char* logFile = std::getenv("TESSAL_LOG_FILE");
    std::string where = logFile ? logFile : std::string(std::getenv("HOME") ? std::getenv("HOME") : "") +
                                                "/.zyk/ZYKUKeyDriver.log";
    std::printf("wrote one DEBUG record with ZYKWriteLog to %s\n", where.c_str());
    return 0;
}
