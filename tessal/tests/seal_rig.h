// Keys with seals: files on software keys, seal lists served by the software seal libraries.
#pragma once

#include <string>

#include "key_rig.h"
#include "token/skf_ukey.h"

class SealRigTest : public KeyRigTest {
protected:
    // Writes `bytes` into the key as file `name`.
    void PutFile(const std::string& serial, const std::string& name, const std::string& bytes);
    // Adds a seal to the key's seal list (`extra`: "--time T", "--form oes").
    void AddSeal(const std::string& serial, const std::string& name, const std::string& bytes,
                 const std::string& extra = "");
    // Installs the software seal library under a catalogue seal library name, beside `skfLibrary`.
    void InstallSealLibrary(const std::string& sealLibrary, const std::string& skfLibrary);
    // A plugged key of the maker's own middleware (kind 0) with one container.
    void AddOwnKey(const std::string& serial);
    // A plugged key listed only by `skfLibrary` (installed), with one container.
    void AddVendorKey(const std::string& serial, const std::string& vpid,
                      const std::string& skfLibrary);
    // The names of the key's files, one per line with their sizes.
    std::string FileList(const std::string& serial);
    // The bytes of the key's file `name`.
    std::string GetFile(const std::string& serial, const std::string& name);
};

// A key object whose seal records the tests can look at.
class InspectableKey : public SkfUKey {
public:
    using SkfUKey::SkfUKey;
    // The record stored under `name`, or null.
    const SealRecord* Record(const std::string& name) const;
    size_t RecordCount() const { return m_sealMap.size(); }
};

// A PNG header (signature and IHDR) of the given size followed by `tail`.
std::string PngBytes(int width, int height, const std::string& tail = "");
