// Owner of one file handle: closes it at the end of its scope. A fatal exit
// ends the process inside the scope, so nothing is closed then.
#ifndef LAUNCHER_FILE_HANDLE_H_
#define LAUNCHER_FILE_HANDLE_H_

#include "platform/platform.h"

namespace launcher {

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
