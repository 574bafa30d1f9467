// The few progress and failure lines the library writes to the host's standard output.
// TESSAL_CONSOLE=0 switches them off, for hosts whose standard output carries data.
#pragma once

#include "api/compiler.h"

// False when the host set TESSAL_CONSOLE=0: its standard output then stays its own.
bool ConsoleEnabled();

// A formatted line, unless the console lines are switched off.
void ConsoleLine(const char* format, ...) TESSAL_PRINTF_FORMAT(1, 2);

// Writes `text` as it is, unless the console lines are switched off.
void ConsoleWrite(const char* text);
