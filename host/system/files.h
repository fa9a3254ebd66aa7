// Files as the package tool reads and writes them, declared once for every
// system (host/system/posix and host/system/windows define them): paths are
// UTF-8, errors come back as the tool's own sentences, "PATH: reason", with
// the same reasons on both systems for the common failures; nothing above
// this branches on errno or on a Windows error code.
#ifndef HOST_SYSTEM_FILES_H_
#define HOST_SYSTEM_FILES_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sys {

// An open file; kNoFile when there is none.
using File = std::intptr_t;
constexpr File kNoFile = -1;

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

enum class FileKind { kMissing, kRegular, kFolder, kOther };
// What is at `path`; a link is taken for what it points at.
FileKind KindOf(const std::string& path);
// Whether anything at all is at `path` (a dangling link too).
bool Exists(const std::string& path);
// Makes a folder: kDone, kExists (something is there) or kFailed with *reason.
Outcome MakeFolder(const std::string& path, std::string* reason);
// Whether both paths name one existing file.
bool SameFile(const std::string& a, const std::string& b);
// The folder part of a path ("." when it has none; the root stays the root).
std::string FolderOf(const std::string& path);
// The file name part of a path (after its last folder).
std::string FileNameOf(const std::string& path);
// Whether a path does not depend on the current folder.
bool IsAbsolute(const std::string& path);
}  // namespace sys

#endif  // HOST_SYSTEM_FILES_H_
