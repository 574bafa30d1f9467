// Handlers run around fork() where processes fork; elsewhere nothing is registered.
#pragma once

namespace platform {

// `prepare` runs in the forking thread before the fork, `parent` in it after, `child` in the
// new process's only thread.
void AtFork(void (*prepare)(), void (*parent)(), void (*child)());

}  // namespace platform
