// The one way the library writes the process-wide last-error text.
#pragma once

#include <string>

// Replaces g_USBLastError under the lock that ZYKGetLastError also takes.
void SetLastErrorMessage(const std::string& text);
