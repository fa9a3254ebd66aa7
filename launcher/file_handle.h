// Reading the own file: the owner of one file handle, and positioned reads.
#ifndef LAUNCHER_FILE_HANDLE_H_
#define LAUNCHER_FILE_HANDLE_H_

#include <cstdint>

#include "platform/platform.h"

namespace launcher {

// Positions `file` at `offset` and reads exactly `count` bytes. False when the
// position cannot be reached (offsets at or past 2^31 among them) or fewer
// bytes could be read.
bool ReadAt(platform::Handle file, uint32_t offset, void* buffer, uint32_t count);

// Owner of one file handle: closes it at the end of its scope. A fatal exit
// ends the process inside the scope, so nothing is closed then.
class FileHandle {
 public:
  explicit FileHandle(platform::Handle handle) : handle_(handle) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() { Close(); }

  bool IsValid() const { return handle_ != platform::kInvalidHandleValue; }
  platform::Handle Get() const { return handle_; }
  void Close() {
    if (IsValid()) platform::CloseHandle(handle_);
    handle_ = platform::kInvalidHandleValue;
  }

 private:
  platform::Handle handle_;
};

}  // namespace launcher

#endif  // LAUNCHER_FILE_HANDLE_H_
