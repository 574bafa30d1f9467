// The few progress and failure lines the library writes to the host's standard output.
#pragma once

// False when the host set TESSAL_CONSOLE=0: its standard output then stays its own.
bool ConsoleEnabled();

// Writes `text` as it is to standard output, unless the console lines are switched off.
void ConsoleWrite(const char* text);
