// The virtual USB bus: a sysfs-shaped entry per plugged key under the store.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/model.h"
#include "core/store.h"

namespace softkey {

// Name of a plugged key's entry below Store::DevicesDir().
std::string BusEntryName(const std::string& serial);

// Makes the key appear on the bus with a fresh session. Throws if it is already plugged.
void Plug(const Store& store, const Token& token);
// Removes the key from the bus. Throws if it is not plugged.
void Unplug(const Store& store, const std::string& serial);

// The session of a plugged key (changes with every plug), or nothing when unplugged.
std::optional<std::string> PluggedSession(const Store& store, const std::string& serial);
std::vector<std::string> PluggedSerials(const Store& store);

}  // namespace softkey
