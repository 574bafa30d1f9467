// The few progress lines the library writes to the host's standard output. TESSAL_CONSOLE=0
// switches them off, for hosts whose standard output carries data.
#pragma once

bool ConsoleEnabled();
void ConsoleLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
