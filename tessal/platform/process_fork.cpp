#include "platform/process_fork.h"

#include <pthread.h>

namespace platform {

void AtFork(void (*prepare)(), void (*parent)(), void (*child)()) { pthread_atfork(prepare, parent, child); }

}  // namespace platform
