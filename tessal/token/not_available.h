// The answer of key operations that this build does not provide yet.
#pragma once

#include <string>

#include "api/failure.h"

inline CResult NotAvailable(const char* function) {
    CResult result;
    TESSAL_FAIL_MSG(result, std::string("功能未实现: ") + function, function);
    return result;
}
