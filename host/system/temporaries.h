// The tool's temporary files (outputs before they take their names, scratch
// files for the author's commands), removed whatever ends the tool: declared
// once, defined for each system in host/system/posix and host/system/windows.
#ifndef HOST_SYSTEM_TEMPORARIES_H_
#define HOST_SYSTEM_TEMPORARIES_H_

#include <string>

#include "host/system/files.h"

namespace sys {

// Creates a new, empty, private file with a unique name in the folder of
// `beside`, open for reading and writing, and registers its name: it is
// removed when the tool is interrupted (SIGINT, SIGTERM, SIGHUP; Ctrl+C,
// Ctrl+Break, a closed console), until ForgetTemporary. Its slot, or -1
// with *error.
int CreateTemporary(const std::string& beside, File* file, std::string* error);
// The slot's path, "" once it is forgotten.
std::string TemporaryPath(int slot);
// The slot's file has another name now (or is to stay): it is not removed.
void ForgetTemporary(int slot);
// Removes the slot's file unless it was forgotten, and frees the slot.
void ReleaseTemporary(int slot);
// A folder made for the outputs: removed with the temporaries (when empty)
// until ForgetMadeFolder. False when the path is too long to hold.
bool RegisterMadeFolder(const std::string& folder);
void ForgetMadeFolder();
// Removes the made folder now (when it is empty) and forgets it.
void RemoveMadeFolder();
// Removes every registered file and the made folder now; async-signal-safe.
void RemoveTemporaries();

}  // namespace sys

#endif  // HOST_SYSTEM_TEMPORARIES_H_
