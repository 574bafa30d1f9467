#include "backend.h"

#include "backends/fake/fake_office.h"

namespace parlux {

int32_t CreateApplication(const std::string& progId, const ClassEntry& entry, DispatchObject& app) {
    if (entry.backend == "fake") return fake::CreateFakeApplication(progId, app);
    return kRegdbClassNotRegistered;  // a back end this build does not have
}

}  // namespace parlux
