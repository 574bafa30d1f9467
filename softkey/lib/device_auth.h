// Device authentication: the challenge handed out by SKF_GenRandom and the sessions that passed.
#pragma once

#include "lib/runtime.h"

namespace softkey {

// The 16 ASCII bytes "1234567812345678" of keys whose authentication key was never set.
extern const uint8_t kDefaultDevAuthKey[16];

// Keeps the random bytes just handed out on the device of `dev`: their first 8 bytes are the
// challenge of the next SKF_DevAuth (a random shorter than 8 bytes leaves none).
void RememberRandom(const Handle& dev, const uint8_t* random, size_t len);

// SAR_OK unless the key requires device authentication for changing its applications and the
// plug session of `dev` has not passed it.
ULONG CheckAppChangeAllowed(const Token& token, const Handle& dev);

}  // namespace softkey
