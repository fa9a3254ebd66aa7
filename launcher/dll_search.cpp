#include "launcher/dll_search.h"

#include "launcher/text.h"
#include "platform/platform.h"

namespace launcher {

namespace {

// Whether LoadLibraryExA understands the LOAD_LIBRARY_SEARCH_ flags: they came
// with SetDefaultDllDirectories.
bool searchFlagsSupported = false;

}  // namespace

void RestrictDllSearch() {
  searchFlagsSupported = false;
  void* kernel32 = platform::GetModuleHandleA("kernel32.dll");
  if (kernel32 == nullptr) return;
  auto setDefault = reinterpret_cast<platform::SetDefaultDllDirectoriesFunction>(
      platform::GetProcAddress(kernel32, "SetDefaultDllDirectories"));
  if (setDefault != nullptr && setDefault(platform::kLoadLibrarySearchSystem32)) {
    searchFlagsSupported = true;
    return;
  }
  auto setDirectory = reinterpret_cast<platform::SetDllDirectoryAFunction>(
      platform::GetProcAddress(kernel32, "SetDllDirectoryA"));
  if (setDirectory != nullptr) setDirectory("");
}

void* LoadSystemLibrary(const char* name) {
  if (searchFlagsSupported) return platform::LoadLibraryExA(name, platform::kLoadLibrarySearchSystem32);
  // Older systems: the full path, so that the file itself is never searched
  // for, and the DLL's own imports are searched from its folder first.
  constexpr uint32_t kRoom = 261;
  char folder[kRoom];
  const uint32_t length = platform::GetSystemDirectoryA(folder, kRoom);
  if (length == 0 || length >= kRoom) return nullptr;
  Text path(folder);
  if (path.Last() != '\\') path.Append("\\");
  path.Append(name);
  return platform::LoadLibraryExA(path.Chars(), platform::kLoadWithAlteredSearchPath);
}

}  // namespace launcher
