// What the software key's seal libraries share: the key they serve, its seals, its faults.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/seal_list.h"

#if defined(_WIN32)
#define SEAL_EXPORT extern "C" __declspec(dllexport)
#else
#define SEAL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace softkey::seal {

// The serial of the key this seal library serves: the first plugged key (in serial order) that
// the SKF library paired with the library's file name may list; nothing when none is plugged.
std::optional<std::string> ServedKey();

// The served key's seals of one form, in the order they were added.
std::vector<SealEntry> ServedSeals(SealForm form);

// An injected failure of `function` on the served key (`arg` names the seal); 0 when none.
uint32_t InjectedFault(const char* function, const std::string& arg = std::string());
// An injected misbehaviour of `function` on the served key; empty when none.
std::string InjectedQuirk(const char* function, const std::string& arg = std::string());

// The seal as the "ReadSealData" family describes it: an XML document with "sealinfo".
std::string SealDocument(const SealEntry& seal);

// Width and height from a PNG header; 0 and 0 for other images.
void ImageSize(const Bytes& image, int& width, int& height);

}  // namespace softkey::seal
