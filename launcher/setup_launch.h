// Starting the setup program from its temporary copy, waiting for it and
// deleting the copy.
#ifndef LAUNCHER_SETUP_LAUNCH_H_
#define LAUNCHER_SETUP_LAUNCH_H_

#include <cstdint>

#include "launcher/text.h"

namespace launcher {

// The UNC form of a drive-letter path on a connected network share, else the
// path unchanged.
Text ToUniversalPath(const char* path);

// True when the launcher's token is a member of the Administrators group.
// Absent functions and failed calls mean false.
bool IsAdministrator();

// The quoted package path followed by arguments 1..count, each after one
// space and quoted when it holds a blank.
Text BuildArgumentString(const char* packagePath);

// The silent switch ("/silent" or "/s" in any letter case) among arguments 1..count.
bool SilentSwitchGiven();

// How the shell start goes: the verb and whether " /noadmin" is appended.
struct ShellStartChoice {
  const char* verb;
  bool noAdmin;
};
ShellStartChoice ChooseShellStart(bool silent, uint8_t elevationMode);

// Windows Vista and later (major version 6 on): without administrator
// rights, the setup program is started through the shell.
inline bool IsVistaOrLater(uint32_t majorVersion) { return majorVersion >= 6; }

// Starts the setup program (directly, or through the shell on Vista and later
// without administrator rights). When `detachedSize` is 0, waits for it to end
// and deletes the copy. A failed start ends in the not-executed message.
void LaunchSetupProgram(const Text& copyPath, uint32_t majorVersion, uint8_t elevationMode,
                        uint32_t detachedSize);

// Forgets the cached CheckTokenMembership: every run starts as a new process
// does (tools run the launcher's main sequence many times in one process).
void ResetAdministratorCache();

}  // namespace launcher

#endif  // LAUNCHER_SETUP_LAUNCH_H_
