// The running tool and the programs it starts: its folder, the author's
// commands, its standard streams and its end. Declared once, defined for
// each system in host/system/posix and host/system/windows.
#ifndef HOST_SYSTEM_PROCESS_H_
#define HOST_SYSTEM_PROCESS_H_

#include <cstddef>
#include <string>

namespace sys {

// The folder the running tool lies in, or "" when the system does not say.
std::string ToolFolder();
// Where a tool installed in `toolFolder` keeps the launcher image (relative
// to the current folder when `toolFolder` is "", not known).
std::string InstalledLauncherOf(const std::string& toolFolder);
// The same in words for the help, which names no folder of one machine.
extern const char* const kInstalledLauncherWords;

// `path` as one word for the shell that RunCommand uses.
std::string QuotedForCommand(const std::string& path);
// Runs `command` through the system's shell (/bin/sh -c; cmd.exe /d /s /c)
// with no input. Its standard output goes to the tool's standard error (to
// nothing when `quiet`), its standard error is kept in *errors, at most the
// last `keep` bytes of it. Its exit status, or -1 when it could not be started.
int RunCommand(const std::string& command, bool quiet, size_t keep, std::string* errors);

// Sets up standard output and error once, at the start: bytes go out as the
// tool writes them (UTF-8, "\n" line ends), and a console shows UTF-8 text.
void PrepareStandardStreams();
// Whether standard error is a terminal (a console).
bool ErrorIsTerminal();
// Writes to standard output (1) or error (2) at once; async-signal-safe.
void WriteRaw(int stream, const char* text, size_t count);
// Ends the process at once with `status`; async-signal-safe.
[[noreturn]] void EndNow(int status);

}  // namespace sys

#endif  // HOST_SYSTEM_PROCESS_H_
