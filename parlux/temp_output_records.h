// Records of the temporary PDFs this user's runs are writing, kept in the user's state directory
// ("<state>/parlux/temporaries"), so that a later run writing into the same directory can remove
// those left by a run that was killed. A temporary is removed only when its record names this
// very file, its recording run is gone and no process holds its lock.
#pragma once

#include <string>

namespace parlux {

// Records the temporary `path`, open as `fd`, in `directory`, written by this process; false
// (and nothing recorded) when the record directory is unusable.
bool RecordTempOutput(const std::string& path, int fd, const std::string& directory);
// Drops the record of the temporary open as `fd` (committed or deleted).
void ForgetTempOutput(int fd);
// Removes the recorded temporaries in `directory` whose writer is gone, and the records whose
// temporary no longer exists.
void RemoveAbandonedTempOutputs(const std::string& directory);

}  // namespace parlux
