// Everything a host application needs from the key adapter library.
#pragma once

#include "tessal/byte_array.h"
#include "tessal/devices.h"
#include "tessal/logger.h"
#include "tessal/result.h"
