#include "backend.h"

#include "backends/fake/fake_office.h"
#ifdef PARLUX_HAVE_LIBREOFFICE
#include "backends/libreoffice/office_objects.h"
#endif

namespace parlux {

// The back ends here run in the worker's own process or drive their office themselves.
int32_t InitializeAutomation() { return 0; }
void ShutdownAutomation() {}

int32_t CreateApplication(const std::string& progId, const ClassEntry& entry, DispatchObject& app,
                          std::string& error) {
    if (entry.backend == "fake") return fake::CreateFakeApplication(progId, app);
#ifdef PARLUX_HAVE_LIBREOFFICE
    if (entry.backend == "libreoffice" && (progId == "Word.Application" || progId == "KWPS.Application" ||
                                           progId == "Excel.Application" || progId == "KET.Application"))
        return libreoffice::CreateOfficeApplication(app, error);
#endif
    return kRegdbClassNotRegistered;  // a back end this build does not have
}

bool OpensBothKinds(const ClassEntry& entry) { return entry.backend == "fake" || entry.backend == "libreoffice"; }

}  // namespace parlux
