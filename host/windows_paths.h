// Windows' path and command-line syntax as the Windows definition of the
// system seam needs it: plain text work, the same on every build machine,
// so that its tests run everywhere.
#ifndef HOST_WINDOWS_PATHS_H_
#define HOST_WINDOWS_PATHS_H_

#include <string>

namespace host {

// A full path (as GetFullPathNameW gives it) in the form that lifts the
// 260-character limit: "\\?\C:\..." for a drive path, "\\?\UNC\server\share\..."
// for a UNC path; one already in \\?\ or device (\\.\) form stays as it is.
std::u16string ExtendedLengthPath(const std::u16string& fullPath);

// The folder part of a Windows path, either slash taken: "." when it has
// none, "C:" for "C:name", and a root stays a root ("\", "C:\").
std::string WindowsFolderOf(const std::string& path);

// The file name part of a Windows path: after its last slash of either
// kind, or after "C:".
std::string WindowsFileNameOf(const std::string& path);

// Whether a Windows path does not depend on the current folder (a drive
// path, a rooted or UNC path; "C:name", relative to that drive's folder,
// counts too: nothing can be put before it).
bool IsWindowsAbsolute(const std::string& path);

// A path as one word on a cmd.exe command line: in double quotes, within
// which cmd.exe takes spaces and & | < > ( ) ^ literally, with each % outside
// them as ^% so that no %NAME% is expanded (a Windows path never holds ").
std::string QuotedForCmd(const std::string& path);

}  // namespace host

#endif  // HOST_WINDOWS_PATHS_H_
