#include "api/console.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

bool ConsoleEnabled() {
    const char* setting = std::getenv("TESSAL_CONSOLE");
    return !setting || std::strcmp(setting, "0") != 0;
}

void ConsoleWrite(const char* text) {
    if (!ConsoleEnabled()) return;
    std::fputs(text, stdout);
    std::fflush(stdout);
}
