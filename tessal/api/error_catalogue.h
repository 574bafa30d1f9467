// The library's own catalogue of result codes and messages.
#pragma once

#include "tessal/result.h"

constexpr int kErrorMsgCount = 207;

// The catalogue's kErrorMsgCount rows.
ErrorMsg_st* ErrorCatalogue();
