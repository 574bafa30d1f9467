// Injected failures: a named SKF function of a named key returns a given code for N calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/store.h"

namespace softkey {

struct Fault {
    std::string serial;
    std::string function;  // for example "SKF_ConnectDev"
    uint32_t code = 0;
    uint32_t count = 1;
    std::string arg;  // when not empty, only calls naming this (container, file, ...) fail
    // When not empty, the call misbehaves this way (for example "unterminated") instead of
    // failing; what a quirk means is up to the function it names.
    std::string quirk;
};

void AddFault(const Store& store, const Fault& fault);
std::vector<Fault> ListFaults(const Store& store);
void ClearFaults(const Store& store, const std::string& serial);

// Consumes one matching fault and returns its code; 0 when none applies.
uint32_t TakeFault(const Store& store, const std::string& serial, const std::string& function,
                   const std::string& arg);
// Consumes one matching quirk (only the quirk `only` when that is given) and returns it; empty
// when none applies.
std::string TakeQuirk(const Store& store, const std::string& serial, const std::string& function,
                      const std::string& arg, const std::string& only = std::string());

}  // namespace softkey
