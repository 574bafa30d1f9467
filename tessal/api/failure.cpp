#include "api/failure.h"

#include "api/last_error.h"

void ReportFailure(CResult& result, int code, const char* file, const char* function, int line) {
    result = code;
    result.SetErrorLocation(file, function, line);
    SetLastErrorMessage(result.GetErrorMsg());
}

void ReportMessage(CResult& result, const std::string& message, const char* file,
                   const char* function, int line) {
    result.SetCustomizedMessage(message.c_str());
    result.SetErrorLocation(file, function, line);
    SetLastErrorMessage(message);
}
