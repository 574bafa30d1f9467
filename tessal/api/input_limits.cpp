#include "api/input_limits.h"

#include <climits>
#include <new>
#include <stdexcept>

#include "api/encodings.h"
#include "api/failure.h"
#include "api/log.h"
#include "skf/skf.h"

bool InputFits(size_t size) {
    if (size <= static_cast<size_t>(INT_MAX)) return true;
    CResult result;
    TESSAL_FAIL(result, SAR_INDATALENERR, "InputFits");
    TLOG_ERROR("input of " << size << " bytes refused: at most " << INT_MAX << " bytes are taken");
    return false;
}

bool Base64InputFits(const std::string& text) { return InputFits(Base64DecodedLength(text)); }

void ReportExportException(const std::exception& e, const char* function) {
    int code = SAR_UNKNOWNERR;
    if (dynamic_cast<const std::length_error*>(&e)) code = SAR_INDATALENERR;
    if (dynamic_cast<const std::bad_alloc*>(&e)) code = SAR_MEMORYERR;
    CResult result;
    TESSAL_FAIL(result, code, function);
    TLOG_ERROR(function << " failed: " << e.what());
}
