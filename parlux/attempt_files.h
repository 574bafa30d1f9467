// What an attempt's office leaves in the attempt directory for whoever cleans up after it.
#pragma once

#include <cstdint>
#include <string>

namespace parlux {

// The office the back end recorded in the attempt directory (0 when none): the worker may have
// died before it could report it.
uint32_t RecordedOfficePid(const std::string& attemptDir);
// Adds the sockets `office` has bound now to the attempt's record: the worker that records them
// may have died before the office made them all.
void RecordOfficeSockets(const std::string& attemptDir, uint32_t office);
// Removes the socket files the attempt's office recorded, once no process listens on them any
// more: only this user's sockets named like the office's pipes.
void RemoveOfficeSockets(const std::string& attemptDir);

}  // namespace parlux
