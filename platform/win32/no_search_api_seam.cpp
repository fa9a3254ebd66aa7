// Seam of a test build, never shipped (cmake/windows.cmake): kernel32 looks
// as if it had no SetDefaultDllDirectories.
#include <cstring>

#include "platform/platform.h"
#include "platform/win32/windows_api.h"

namespace platform {

void* GetProcAddress(void* module, const char* name) {
  if (std::strcmp(name, "SetDefaultDllDirectories") == 0) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

}  // namespace platform
