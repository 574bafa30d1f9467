// Exports of the device, PIN and basic family.
#include "api/log.h"
#include "tessal/logger.h"

void ZYKWriteLog(std::string text) { TLOG_DEBUG(text); }
