// Narrowing the DLL search to the system folder, on every Windows the launcher runs on.
#include "launcher/dll_search.h"

#include "launcher/text.h"
#include "platform/platform.h"

namespace launcher {

namespace {

// Whether LoadLibraryExA understands the LOAD_LIBRARY_SEARCH_ flags: they came
// with SetDefaultDllDirectories.
bool searchFlagsSupported = false;

// DLLs that Windows loads by itself inside MessageBoxA and ShellExecuteExA
// (themes, the window manager, shell, COM and security helpers), none of them
// known DLLs on XP, Vista and 7. Where the search cannot be narrowed to the
// system folder, SetDllDirectoryA("") still leaves the launcher's own folder
// first in the search for them; loaded from the system folder by full path
// beforehand, they are already in the process when the system asks for them,
// and the launcher's folder is never searched. Some of them load others by
// name as they start (netapi32 among those): those come first. A name the
// system lacks (an older Windows) simply fails to load: the system does not
// ask for it either. One text: the names one after another, each ended by a
// zero.
const char kSystemLoadedDlls[] =
    "netapi32.dll\0uxtheme.dll\0dwmapi.dll\0cryptbase.dll\0profapi.dll\0userenv.dll\0winmm.dll\0"
    "propsys.dll\0secur32.dll\0sspicli.dll\0wtsapi32.dll\0apphelp.dll\0dbghelp.dll\0cryptsp.dll\0"
    "rsaenh.dll\0msimg32.dll\0oleacc.dll\0shfolder.dll\0ntmarta.dll\0srvcli.dll\0netutils.dll\0"
    "windowscodecs.dll\0wldp.dll\0version.dll\0";

void LoadSystemLoadedDlls() {
  for (const char* name = kSystemLoadedDlls; *name != 0; name += TextLength(name) + 1) {
    LoadSystemLibrary(name);
  }
}

}  // namespace

void RestrictDllSearch() {
  searchFlagsSupported = false;
  void* kernel32 = platform::GetModuleHandleA("kernel32.dll");
  if (kernel32 != nullptr) {
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
  LoadSystemLoadedDlls();
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
