#include "platform/process_fork.h"

namespace platform {

void AtFork(void (*)(), void (*)(), void (*)()) {}  // Windows processes do not fork

}  // namespace platform
