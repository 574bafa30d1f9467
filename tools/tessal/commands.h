// The commands of the tessal tool; each works through libtessal's exported functions.
#pragma once

#include <stdexcept>
#include <string>

#include "kit/command_line.h"

namespace tessal_tool {

using kit::cli::Args;
using kit::cli::UsageError;

// Exit status of `verify` when every signature is valid but a signer's chain is not trusted.
constexpr int kExitUntrustedSigner = 3;

// A failed library call: `what` and the library's last error message.
std::runtime_error LibraryFailure(const std::string& what);

// Throws a usage mistake (the command's one usage text follows it) unless the command got `n`
// words.
void ExpectWords(const Args& a, size_t n);

// Makes the key --key names (else the library's current key) current and returns its id;
// throws when no key or not that key is attached.
std::string ChooseKey(const Args& a);
// Verifies the user PIN (from the PIN options or a prompt) on the current key `id`.
void VerifyPin(const Args& a, const std::string& id);

int CmdKeys(const Args& a);
int CmdPin(const Args& a);
int CmdCert(const Args& a);
int CmdSign(const Args& a);
int CmdVerify(const Args& a);

}  // namespace tessal_tool
