// Result values of every operation and the catalogue of their messages.
#pragma once

#include <string>

#include "tessal/export.h"

// One catalogue row: a result code and its UTF-8 message.
struct TESSAL_API ErrorMsg_st {
    int errorCode;
    std::string errorMsg;
};

// The outcome of an operation: code 0 is success, 999 carries a free message.
class TESSAL_API CResult {
public:
    CResult();
    CResult(ErrorMsg_st* table, int count);
    CResult(const CResult& other);
    ~CResult();

    CResult& operator=(int code);
    CResult& operator=(CResult other);
    bool operator==(int code);
    bool operator!=(int code);

    int ErrorCode();
    std::string GetErrorMsg();
    std::string GetErrorLocation();
    void SetErrorLocation(const char* file, const char* function, int line);
    void SetCustomizedMessage(const char* text);
    void Print(const char* caller);

    int m_errorCode;
    std::string m_errorLocation;
    std::string m_customizedMessage;
    ErrorMsg_st* m_msgTable;
    int m_msgCount;
};

// Message of the most recent failure anywhere in the library ("Error" at load).
extern TESSAL_API std::string g_USBLastError;

// A copy of the most recent failure message.
TESSAL_API std::string ZYKGetLastError();
