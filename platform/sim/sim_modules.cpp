// The simulated machine's modules: the DLLs the launcher looks up at run time
// (and their stand-in functions), the DLL search and planted DLLs.
#include "platform/sim/sim_state.h"

#include <cstring>

namespace sim {

namespace {

char kernel32Module;
char advapi32Module;
char mprModule;
char systemModule;   // any other DLL of the system folder
char plantedModule;  // any DLL taken from the launcher's own folder

// Stand-ins for the functions the launcher looks up at run time.
platform::Bool PLATFORM_API SimIsWow64Process(platform::Handle, platform::Bool* wow64) {
  Machine& m = Machine::Current();
  Log(m, "IsWow64Process");
  if (m.isWow64ProcessFails) return 0;
  *wow64 = m.wow64 ? 1 : 0;
  return 1;
}

platform::Bool PLATFORM_API SimSetDefaultDllDirectories(uint32_t flags) {
  Machine& m = Machine::Current();
  Log(m, "SetDefaultDllDirectories " + std::to_string(flags));
  m.defaultDllDirectories = flags;
  return 1;
}

platform::Bool PLATFORM_API SimSetDllDirectoryA(const char* path) {
  Machine& m = Machine::Current();
  Log(m, std::string("SetDllDirectoryA \"") + (path != nullptr ? path : "(null)") + "\"");
  m.dllDirectorySet = true;
  return 1;
}

uint32_t PLATFORM_API SimWNetGetUniversalNameA(const char* localPath, uint32_t level, void* buffer,
                                               uint32_t* size) {
  using platform::UniversalNameInfo;
  Machine& m = Machine::Current();
  Log(m, std::string("WNetGetUniversalNameA ") + localPath + " size=" + std::to_string(*size));
  constexpr uint32_t kErrorNotConnected = 2250, kErrorMoreData = 234, kErrorInvalidLevel = 124;
  if (level != platform::kUniversalNameInfoLevel) return kErrorInvalidLevel;
  const std::string path = localPath;
  if (path.size() < 2 || path[1] != ':') return kErrorNotConnected;
  auto it = m.mappedDrives.find(Upper(path[0]));
  if (it == m.mappedDrives.end()) return kErrorNotConnected;
  const std::string universal = it->second + path.substr(2);
  const uint32_t needed = static_cast<uint32_t>(sizeof(UniversalNameInfo) + universal.size() + 1);
  if (*size < needed) {
    *size = needed;
    return kErrorMoreData;
  }
  char* text = static_cast<char*>(buffer) + sizeof(UniversalNameInfo);
  std::memcpy(text, universal.c_str(), universal.size() + 1);
  static_cast<UniversalNameInfo*>(buffer)->lpUniversalName = text;
  return platform::kNoError;
}

}  // namespace

// Searches `folders` in order for `dll`, records the load and returns the
// module: a DLL the process has loaded already without a search, mpr.dll and
// every other DLL from the system folder, a planted file from anywhere else.
void* SearchDll(Machine& m, const std::string& dll, const std::string& by,
                const std::vector<std::string>& folders) {
  auto loaded = StateOf(m).loadedModules.find(dll);
  if (loaded != StateOf(m).loadedModules.end()) {
    m.dllLoads.push_back(DllLoad{dll, by, {}, loaded->second.folder});
    return loaded->second.module;
  }
  DllLoad load{dll, by, folders, ""};
  void* module = nullptr;
  for (const std::string& folder : folders) {
    if (SameText(folder, m.systemDirectory)) {
      if (!SameText(dll, "mpr.dll")) module = &systemModule;
      else if (m.hasMpr) module = &mprModule;
    } else if (m.Exists(folder + "\\" + dll) && !m.IsFolder(folder + "\\" + dll)) {
      module = &plantedModule;
    }
    if (module != nullptr) {
      load.loadedFrom = folder;
      StateOf(m).loadedModules[dll] = LoadedModule{module, folder};
      break;
    }
  }
  m.dllLoads.push_back(load);
  return module;
}

// The folders Windows searches for a DLL named without a path, with the
// search flags of the call (0: the process's default).
std::vector<std::string> SearchOrder(const Machine& m, uint32_t flags) {
  if (flags == 0) flags = m.defaultDllDirectories;
  if (flags & platform::kLoadLibrarySearchSystem32) return {m.systemDirectory};
  return {FolderOf(m.modulePath), m.systemDirectory};
}

// What the system loads for itself inside a call of the launcher's (themes,
// shell extensions): a DLL that is no known DLL, searched the default way.
void SystemLoads(Machine& m, const std::string& by) {
  SearchDll(m, "uxtheme.dll", by, SearchOrder(m, 0));
}

}  // namespace sim

namespace platform {

using namespace sim;

void* GetModuleHandleA(const char* name) {
  Machine& m = TheMachine();
  Log(m, std::string("GetModuleHandleA ") + name);
  std::string n;
  for (const char* p = name; *p != 0; ++p) n += sim::Upper(*p);
  if (n == "KERNEL32" || n == "KERNEL32.DLL") return &sim::kernel32Module;
  if (n == "ADVAPI32" || n == "ADVAPI32.DLL") return &sim::advapi32Module;
  return nullptr;
}

void* GetProcAddress(void* module, const char* name) {
  Machine& m = TheMachine();
  Log(m, std::string("GetProcAddress ") + name);
  const std::string n = name;
  if (module == &sim::kernel32Module && n == "IsWow64Process" && m.hasIsWow64Process) {
    return reinterpret_cast<void*>(&sim::SimIsWow64Process);
  }
  if (module == &sim::kernel32Module && n == "SetDefaultDllDirectories" &&
      m.hasSetDefaultDllDirectories) {
    return reinterpret_cast<void*>(&sim::SimSetDefaultDllDirectories);
  }
  if (module == &sim::kernel32Module && n == "SetDllDirectoryA" && m.hasSetDllDirectoryA) {
    return reinterpret_cast<void*>(&sim::SimSetDllDirectoryA);
  }
  if (module == &sim::mprModule && n == "WNetGetUniversalNameA" && m.mprHasWNetGetUniversalName) {
    return reinterpret_cast<void*>(&sim::SimWNetGetUniversalNameA);
  }
  if (module == &sim::advapi32Module && n == "CheckTokenMembership" &&
      m.hasCheckTokenMembership) {
    return reinterpret_cast<void*>(&sim::SimCheckTokenMembership);
  }
  return nullptr;
}

void* LoadLibraryExA(const char* name, uint32_t flags) {
  Machine& m = TheMachine();
  Log(m, std::string("LoadLibraryExA ") + name + " flags=" + std::to_string(flags));
  const std::string path = name;
  const std::string folder = sim::FolderOf(path);
  if (!folder.empty()) return sim::SearchDll(m, path.substr(folder.size() + 1), "LoadLibraryExA", {folder});
  return sim::SearchDll(m, path, "LoadLibraryExA", sim::SearchOrder(m, flags));
}

uint32_t GetSystemDirectoryA(char* buffer, uint32_t size) {
  Machine& m = TheMachine();
  Log(m, "GetSystemDirectoryA");
  if (m.systemDirectoryFails) return 0;
  const uint32_t length = static_cast<uint32_t>(m.systemDirectory.size());
  if (size <= length) return length + 1;
  std::memcpy(buffer, m.systemDirectory.c_str(), length + 1);
  return length;
}

}  // namespace platform
