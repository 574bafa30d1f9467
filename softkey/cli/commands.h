// The provisioning commands of the software key tool.
#pragma once

#include "core/store.h"
#include "kit/command_line.h"

namespace softkey::cli {

using kit::cli::Args;
using kit::cli::UsageError;

// A usage mistake (the command's one usage text follows it) unless the command got exactly `n`
// words.
void ExpectCount(const Args& a, size_t n);

int CmdCreate(const Store& store, const Args& a);
int CmdPlug(const Store& store, const Args& a);
int CmdUnplug(const Store& store, const Args& a);
int CmdList(const Store& store, const Args& a);
int CmdShow(const Store& store, const Args& a);
int CmdDelete(const Store& store, const Args& a);
int CmdFault(const Store& store, const Args& a);
int CmdInstallDriver(const Store& store, const Args& a);
int CmdInstallSealLibrary(const Store& store, const Args& a);
int CmdSeal(const Store& store, const Args& a);
int CmdFile(const Store& store, const Args& a);
int CmdCert(const Store& store, const Args& a);
int CmdContainer(const Store& store, const Args& a);
int CmdStore(const Store& store, const Args& a);
// Prints the shell lines that point SOFTKEY_STORE, TESSAL_USB_SYSFS and TESSAL_DRIVER_DIR here.
int CmdEnv(const Store& store, const Args& a);

}  // namespace softkey::cli
