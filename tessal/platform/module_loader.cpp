#include "platform/module_loader.h"

#include <dlfcn.h>

namespace platform {

void* LoadModule(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }

void* ModuleSymbol(void* module, const char* name) { return module ? dlsym(module, name) : nullptr; }

void UnloadModule(void* module) {
    if (module) dlclose(module);
}

std::string LastModuleError() {
    const char* e = dlerror();
    return e ? e : "";
}

}  // namespace platform
