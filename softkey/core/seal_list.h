// The seals a software key hands out through the seal libraries, kept beside the key's file.
#pragma once

#include <string>
#include <vector>

#include "core/model.h"
#include "core/store.h"

namespace softkey {

// Which seal library family hands a seal out: the "ReadSealData" XML forms or the OES entry points.
enum class SealForm { Ggzy, Oes };

struct SealEntry {
    std::string name;  // bytes as the key holds them (the ANSI code page of the host)
    Bytes image;
    std::string time;
    SealForm form = SealForm::Ggzy;
};

const char* SealFormName(SealForm form);
// Throws std::invalid_argument for a word other than "ggzy" or "oes".
SealForm ParseSealForm(const std::string& word);

// The key's seals in the order they were added (names may repeat); empty when it has none.
// Callers hold the store lock. Throws std::runtime_error when the list is damaged.
std::vector<SealEntry> LoadSeals(const Store& store, const std::string& serial);
void SaveSeals(const Store& store, const std::string& serial, const std::vector<SealEntry>& seals);
void RemoveSeals(const Store& store, const std::string& serial);

}  // namespace softkey
