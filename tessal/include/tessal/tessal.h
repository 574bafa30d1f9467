// Everything a host application needs from the key adapter library.
#pragma once

#include "tessal/byte_array.h"
#include "tessal/ca_list.h"
#include "tessal/cert_info.h"
#include "tessal/cert_requests.h"
#include "tessal/certificates.h"
#include "tessal/data_protection.h"
#include "tessal/devices.h"
#include "tessal/http.h"
#include "tessal/logger.h"
#include "tessal/result.h"
#include "tessal/seals.h"
#include "tessal/signing.h"
#include "tessal/engine.h"
#include "tessal/time_stamp.h"
#include "tessal/version.h"
