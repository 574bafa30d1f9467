// The library's own catalogue of result codes and messages.
#pragma once

#include "tessal/result.h"

constexpr int kErrorMsgCount = 207;

extern ErrorMsg_st g_ErrorMsgTable[kErrorMsgCount];
