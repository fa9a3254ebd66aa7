// What the package tool and the simulated machine ask of the operating
// system, declared once. host/system_posix.cpp and host/system_windows.cpp
// each define all of it and the build lists the one that fits; nothing else
// on the build machine's side includes a system header.
//
// Paths are UTF-8 here (the Windows definition converts them to wide paths
// at each call, long and UNC paths included). Errors come back as the tool's
// own sentences, "PATH: reason", with the same reasons on both systems for
// the common failures; nothing above this branches on errno or on a Windows
// error code.
#ifndef HOST_SYSTEM_H_
#define HOST_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sys {

// An open file; kNoFile when there is none.
using File = std::intptr_t;
constexpr File kNoFile = -1;

// --- Inputs ---

// Opens a regular file for reading without waiting for anything (a FIFO is
// refused, never waited on); its size in *size. False with "PATH: is a
// directory", "PATH: not a regular file" or "PATH: reason" in *error.
bool OpenInput(const std::string& path, File* file, uint64_t* size, std::string* error);
// Reads up to `count` bytes at `offset`: the number read (0 at the end of
// the file), or -1 with the reason (without the path) in *reason.
int64_t ReadAt(File file, uint64_t offset, uint8_t* to, size_t count, std::string* reason);
// Closes a file this seam opened: false with the reason when the system
// reports that what was written did not reach the file.
bool Close(File file, std::string* reason);

// A regular file mapped read only; `owner` keeps the mapping. When the file
// shrinks under the mapping (its pages are gone), the function given to
// OnMappedInputShrank runs and the process ends with exit status 3.
struct Mapping {
  const uint8_t* data = nullptr;
  uint64_t size = 0;
  std::shared_ptr<const void> owner;
};
bool MapInput(const std::string& path, Mapping* out, std::string* error);
// What runs when a mapped input shrank, before the process ends: it may call
// only RemoveTemporaries, WriteRaw and the like (on POSIX it runs in a
// signal handler).
void OnMappedInputShrank(void (*report)());

// --- Outputs ---

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

// Writes all `count` bytes at `offset`. False with the reason (without the
// path): "an input file shrank while it was being read" when the bytes came
// from a mapped input whose pages are gone.
bool WriteAt(File file, uint64_t offset, const uint8_t* bytes, size_t count, std::string* reason);
// Flushes a finished output to its device and gives it the mode every new
// file gets (a temporary file is private until then).
bool Finish(File file, std::string* reason);
// The same for a file that is not open (one another program wrote).
bool FinishPath(const std::string& path, std::string* reason);

// How a finished output takes its name.
enum class Rename {
  kNoReplace,  // only while the name is free
  kReplace,    // over whatever file has it
  kExchange,   // swapped with the file that has it, which then has `from`
};
enum class Outcome { kDone, kExists, kNothingToExchange, kFailed };
// kExists: kNoReplace found the name taken; kNothingToExchange: kExchange
// found no file to swap with, or a file system that cannot swap (nothing
// was changed). *reason holds the reason for kFailed.
Outcome RenameFile(const std::string& from, const std::string& to, Rename how, std::string* reason);
// Removes a file; false when it could not.
bool RemoveFile(const std::string& path);

// --- Paths ---

enum class Kind { kMissing, kRegular, kFolder, kOther };
// What is at `path`; a link is taken for what it points at.
Kind KindOf(const std::string& path);
// Whether anything at all is at `path` (a dangling link too).
bool Exists(const std::string& path);
// Makes a folder: kDone, kExists (something is there) or kFailed with *reason.
Outcome MakeFolder(const std::string& path, std::string* reason);
// Whether both paths name one existing file.
bool SameFile(const std::string& a, const std::string& b);
// The folder part of a path ("." when it has none; the root stays the root).
std::string FolderOf(const std::string& path);
// Whether a path does not depend on the current folder.
bool IsAbsolute(const std::string& path);
// The folder the running tool lies in, or "" when the system does not say.
std::string ToolFolder();
// Where a tool installed in `toolFolder` keeps the launcher image
// ("" for a tool whose folder is not known).
std::string InstalledLauncherOf(const std::string& toolFolder);

// --- The author's commands ---

// `path` as one word for the shell that RunCommand uses.
std::string QuotedForCommand(const std::string& path);
// Runs `command` through the system's shell (/bin/sh -c; cmd.exe /d /s /c)
// with no input. Its standard output goes to the tool's standard error (to
// nothing when `quiet`), its standard error is kept in *errors, at most the
// last `keep` bytes of it. Its exit status, or -1 when it could not be started.
int RunCommand(const std::string& command, bool quiet, size_t keep, std::string* errors);

// --- Memory ---

// A block whose pages cost nothing until they are written: nullptr when the
// system has no room. ResizeBlock keeps the first bytes (nullptr, the old
// block kept, when there is no room); FreeBlock gives it back.
void* MapBlock(size_t size);
void* ResizeBlock(void* block, size_t oldSize, size_t size);
void FreeBlock(void* block, size_t size);
// Where the running program is loaded (its code addresses are shown as
// offsets from here, the same on every run).
uintptr_t ProgramBase();

// --- The console ---

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

#endif  // HOST_SYSTEM_H_
