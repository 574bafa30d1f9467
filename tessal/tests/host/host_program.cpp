// A host application built only against the public headers and linked with -ltessal.
#include <tessal/tessal.h>

#include <cstdio>
#include <cstring>

static int failures = 0;
static void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

int main() {
    Check(g_USBLastError == "Error", "g_USBLastError starts as \"Error\"");
    Check(ZYKGetLastError() == "Error", "ZYKGetLastError before any failure");

    ErrorMsg_st rows[] = {{0, "ok"}, {3, "three"}};
    CResult own(rows, 2);
    own = 3;
    Check(own.GetErrorMsg() == "three", "CResult over a host table");
    CResult builtin;
    builtin = 0x0A000024;
    Check(builtin.GetErrorMsg() == "PIN不正确", "CResult over the built-in catalogue");

    ByteArray a("ab", 2);
    a += a;
    Check(a.length() == 4, "ByteArray append to itself");

    Check(std::strcmp(tessal_version(), TESSAL_VERSION_STRING) == 0,
          "the loaded library's version is the headers' version");

    ZYKWriteLog("host program");
    QLogger::GetInstance().Debug("host program via QLogger");
    std::printf("host program: %s\n", failures == 0 ? "all exports usable" : "FAILED");
    return failures == 0 ? 0 : 1;
}
