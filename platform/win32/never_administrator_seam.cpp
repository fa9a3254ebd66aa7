// Seam of a test build, never shipped (cmake/windows.cmake): the
// administrators' SID cannot be made, so the launcher's administrator check
// answers false.
#include "platform/platform.h"

namespace platform {

Bool AllocateAndInitializeSid(const uint8_t[6], uint8_t, const uint32_t[8], void** sid) {
  *sid = nullptr;
  return 0;
}

}  // namespace platform
