// The provisioning commands of the software key tool.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/store.h"

namespace softkey::cli {

// A mistake in how the tool was called: printed with the usage text, exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Args {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;  // "--serial" -> value

    const std::string& At(size_t i, const char* what) const;
    std::string Option(const std::string& name, const std::string& fallback = "") const;
    bool Has(const std::string& name) const { return options.count(name) > 0; }
};

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

}  // namespace softkey::cli
