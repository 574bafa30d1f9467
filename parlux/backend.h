// Office back ends: what creates an application object for a registered ProgID.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "automation/dispatch.h"
#include "class_registry.h"

namespace parlux {

// The automation runtime of the calling thread (COM's single-threaded apartment on Windows):
// an HRESULT; every successful initialisation is matched by one shutdown.
int32_t InitializeAutomation();
void ShutdownAutomation();

// Creates the application object of `progId` with the back end the registry names; an HRESULT.
// `error` receives why an office could not be started.
int32_t CreateApplication(const std::string& progId, const ClassEntry& entry, DispatchObject& app, std::string& error);
// Whether one application object of the back end opens both documents and workbooks (its
// "Documents" and its "Workbooks"), so that one office can serve the ProgIDs of both kinds.
bool OpensBothKinds(const ClassEntry& entry);

}  // namespace parlux
