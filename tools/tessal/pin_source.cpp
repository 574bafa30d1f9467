#include "pin_source.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "tool_io.h"

namespace tessal_tool {
namespace {

// Reads one line from the controlling terminal with echo off; without a terminal the mistake
// names the two options that give this PIN.
std::string PromptWithoutEcho(const std::string& prompt, const std::string& fileOption, const std::string& envOption) {
    int tty = open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0)
        throw kit::cli::UsageError("no PIN: give " + fileOption + " FILE or " + envOption +
                                   " VARIABLE, or run on a terminal");
    termios saved{};
    bool restore = tcgetattr(tty, &saved) == 0;
    if (restore) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    ssize_t ignored = write(tty, prompt.data(), prompt.size());
    std::string line;
    char c;
    while (read(tty, &c, 1) == 1 && c != '\n') line += c;
    if (restore) tcsetattr(tty, TCSAFLUSH, &saved);
    ignored = write(tty, "\n", 1);
    (void)ignored;
    close(tty);
    return line;
}

std::string FirstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace

std::string ReadPin(const kit::cli::Args& a, const char* fileOption, const char* envOption, const std::string& prompt,
                    bool confirm) {
    std::string pin;
    if (a.Has(fileOption)) {
        pin = FirstLine(ReadFile(a.Option(fileOption)));
    } else if (a.Has(envOption)) {
        const char* value = std::getenv(a.Option(envOption).c_str());
        if (!value) throw kit::cli::UsageError("the environment has no variable " + a.Option(envOption));
        pin = value;
    } else {
        pin = PromptWithoutEcho(prompt + ": ", fileOption, envOption);
        if (confirm && PromptWithoutEcho("again: ", fileOption, envOption) != pin)
            throw std::runtime_error("the two PINs differ");
    }
    if (pin.empty()) throw kit::cli::UsageError("the PIN is empty");
    return pin;
}

}  // namespace tessal_tool
