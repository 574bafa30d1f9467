// How a worker learns that it must stop: the parent's cancellation object, the parent's death
// (a parent-death signal, or a pipe nobody reads any more) or a termination request.
#pragma once

#include <sys/types.h>

namespace parlux::platform {

// Notes the parent and the cancellation descriptor, asks for SIGTERM when the parent dies,
// and handles SIGTERM by stopping the office group at once. False when the parent is gone.
bool InstallWorkerSignals(pid_t parent, int cancelFd);
// Whether the worker should stop: cancellation set, SIGTERM received or the parent gone.
bool StopRequested();
bool ParentGone();
// A write to the parent failed: it no longer listens.
void NoteParentUnreachable();
// The process group of the office this worker started (0: none); SIGTERM kills it.
void SetOfficeGroup(pid_t group);

}  // namespace parlux::platform
