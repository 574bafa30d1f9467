// Loading vendor libraries at run time.
#pragma once

#include <string>

namespace platform {

// Loads the library at `path` (resolved immediately, symbols kept local); null on failure.
void* LoadModule(const std::string& path);
void* ModuleSymbol(void* module, const char* name);
void UnloadModule(void* module);
// Why the last load failed, for the log.
std::string LastModuleError();

}  // namespace platform
