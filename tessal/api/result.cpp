// CResult: code, location text and message lookup over a catalogue.
#include <cstdio>

#include "api/error_catalogue.h"
#include "tessal/result.h"

namespace {
constexpr int kCustomMessageCode = 999;
}

CResult::CResult()
    : m_errorCode(0), m_msgTable(ErrorCatalogue()), m_msgCount(kErrorMsgCount) {}

CResult::CResult(ErrorMsg_st* table, int count)
    : m_errorCode(0), m_msgTable(table), m_msgCount(count) {}

CResult::CResult(const CResult& other) = default;

CResult::~CResult() = default;

CResult& CResult::operator=(int code) {
    m_errorCode = code;
    return *this;
}

CResult& CResult::operator=(CResult other) {
    m_errorCode = other.m_errorCode;
    m_msgTable = other.m_msgTable;
    m_msgCount = other.m_msgCount;
    if (&other != this) {
        m_errorLocation = other.m_errorLocation;
        m_customizedMessage = other.m_customizedMessage;
    }
    return *this;
}

bool CResult::operator==(int code) { return m_errorCode == code; }

bool CResult::operator!=(int code) { return m_errorCode != code; }

int CResult::ErrorCode() { return m_errorCode; }

std::string CResult::GetErrorMsg() {
    if (m_errorCode == kCustomMessageCode) return m_customizedMessage;
    for (int i = 0; m_msgTable != nullptr && i < m_msgCount; ++i) {
        if (m_msgTable[i].errorCode == m_errorCode) return m_msgTable[i].errorMsg;
    }
    return "未定义的错误，错误码:" + std::to_string(m_errorCode);
}

std::string CResult::GetErrorLocation() { return m_errorLocation; }

void CResult::SetErrorLocation(const char* file, const char* function, int line) {
    m_errorLocation = std::string("[FileName]:") + (file ? file : "") + "\r\n" +
                      "[functionName]:" + (function ? function : "") + "\r\n" +
                      "[Line]:" + std::to_string(line) + "\r\n";
}

void CResult::SetCustomizedMessage(const char* text) {
    m_errorCode = kCustomMessageCode;
    m_customizedMessage = text ? text : "";
}

void CResult::Print(const char* caller) {
    std::printf("*************************************ERROR*************************************\r\n");
    std::printf("[Printf Function]:%s\r\n", caller ? caller : "");
    std::printf("[ErrorCode]:%d\r\n", m_errorCode);
    std::printf("[ErrorMsg]:%s\r\n", GetErrorMsg().c_str());
    std::printf("%s", m_errorLocation.c_str());
    std::printf("**************************************END**************************************\r\n");
}
