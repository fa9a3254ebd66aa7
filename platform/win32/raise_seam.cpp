// Seam of a test build, never shipped (cmake/windows.cmake): once the file
// created whole (the temporary copy) is closed, the next handle closed (the
// launcher's own file, the copy now written and not yet started) raises,
// after it is closed, the processor exception that the command line's last
// argument names.
#include <cstring>

#include "platform/platform.h"
#include "platform/win32/windows_api.h"

namespace platform {

namespace {

Handle createdFile = 0;
bool copyClosed = false;

bool EndsWith(const char* text, const char* end) {
  const size_t n = std::strlen(text), m = std::strlen(end);
  return n >= m && std::strcmp(text + n - m, end) == 0;
}

void Raise() {
  const char* line = ::GetCommandLineA();
  volatile uintptr_t address = 16;
  volatile int32_t dividend = 1, divisor = 0;
  if (EndsWith(line, "/raise-access-violation")) *reinterpret_cast<volatile int32_t*>(address) = 1;
  if (EndsWith(line, "/raise-division-by-zero")) divisor = dividend / divisor;
}

}  // namespace

Handle CreateFileA(const char* name, uint32_t access, uint32_t share, uint32_t disposition, uint32_t flags) {
  const Handle file =
      reinterpret_cast<Handle>(::CreateFileA(name, access, share, nullptr, disposition, flags, nullptr));
  if (disposition == kCreateAlways) createdFile = file;
  return file;
}

Bool CloseHandle(Handle handle) {
  const Bool closed = ::CloseHandle(reinterpret_cast<HANDLE>(handle));
  if (copyClosed) Raise();
  if (handle == createdFile) copyClosed = true;
  return closed;
}

}  // namespace platform
