#include "api/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool ConsoleEnabled() {
    const char* value = std::getenv("TESSAL_CONSOLE");
    return !value || std::strcmp(value, "0") != 0;
}

void ConsoleLine(const char* format, ...) {
    if (!ConsoleEnabled()) return;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void ConsoleWrite(const char* text) {
    if (!ConsoleEnabled()) return;
    std::fputs(text, stdout);
    std::fflush(stdout);
}
