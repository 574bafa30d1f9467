// The worker's command-line text and the time limit of an attempt.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

namespace parlux {

constexpr int kDefaultTimeoutMs = 300000;

// PARLUX_TIMEOUT_MS when it is a whole number from 1000 to 3600000, else 300000.
int readTimeout();
int parseTimeout(const char* text);

// One argument in double quotes, backslashes before quotes and at the end doubled.
std::string quoteArgument(const std::string& text);
// The arguments of a command line built with quoteArgument, given back unchanged.
std::vector<std::string> splitQuotedArguments(const std::string& line);

}  // namespace parlux
