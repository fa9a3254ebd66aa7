// The own file's handle and its positioned whole reads.
#include "launcher/file_handle.h"

#include "launcher/package_format.h"

namespace launcher {

bool ReadAt(platform::Handle file, uint32_t offset, void* buffer, uint32_t count) {
  // A position the signed seek cannot reach must not leave the read at the
  // previous position, where it would take the wrong bytes.
  if (offset >= kLimit) return false;
  if (platform::SetFilePointer(file, static_cast<int32_t>(offset), platform::kFileBegin) != offset) {
    return false;
  }
  uint32_t read = 0;
  platform::ReadFile(file, buffer, count, &read);
  return read == count;
}

}  // namespace launcher
