#include "platform/sim/sim_machine.h"

#include "host/code_pages.h"
#include "host/pe_image.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace sim {

namespace {

Machine* current = nullptr;

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Paths compare without letter case and without a trailing backslash
// (except a drive root such as "C:\").
std::string Key(const std::string& path) {
  std::string k = path;
  while (k.size() > 3 && k.back() == '\\') k.pop_back();
  return k;
}

bool SamePath(const std::string& a, const std::string& b) {
  return !PathLess()(Key(a), Key(b)) && !PathLess()(Key(b), Key(a));
}

std::string ParentOf(const std::string& path) {
  std::string k = Key(path);
  size_t slash = k.rfind('\\');
  if (slash == std::string::npos) return std::string();
  if (slash == 2 && k[1] == ':') return k.substr(0, 3);
  return k.substr(0, slash);
}

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

// Stand-ins for the functions the launcher looks up at run time.
platform::Bool PLATFORM_API SimIsWow64Process(platform::Handle, platform::Bool* wow64) {
  Machine& m = Machine::Current();
  m.Log("IsWow64Process");
  if (m.isWow64ProcessFails) return 0;
  *wow64 = m.wow64 ? 1 : 0;
  return 1;
}

platform::Bool PLATFORM_API SimCheckTokenMembership(platform::Handle token, void* sid,
                                                    platform::Bool* member) {
  Machine& m = Machine::Current();
  m.Log("CheckTokenMembership token=" + std::to_string(token));
  if (m.checkTokenMembershipFails) return 0;
  const bool adminSid = sid == m.sidStorage.data() && m.sidStorage == "S-1-5-32-544";
  *member = (adminSid && m.administrator) ? 1 : 0;
  return 1;
}

platform::Bool PLATFORM_API SimSetDefaultDllDirectories(uint32_t flags) {
  Machine& m = Machine::Current();
  m.Log("SetDefaultDllDirectories " + std::to_string(flags));
  m.defaultDllDirectories = flags;
  return 1;
}

platform::Bool PLATFORM_API SimSetDllDirectoryA(const char* path) {
  Machine& m = Machine::Current();
  m.Log(std::string("SetDllDirectoryA \"") + (path != nullptr ? path : "(null)") + "\"");
  m.dllDirectorySet = true;
  return 1;
}

uint32_t PLATFORM_API SimWNetGetUniversalNameA(const char* localPath, uint32_t level, void* buffer,
                                               uint32_t* size) {
  using platform::UniversalNameInfo;
  Machine& m = Machine::Current();
  m.Log(std::string("WNetGetUniversalNameA ") + localPath + " size=" + std::to_string(*size));
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

char kernel32Module;
char advapi32Module;
char mprModule;
char systemModule;   // any other DLL of the system folder
char plantedModule;  // any DLL taken from the launcher's own folder

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool SameText(const std::string& a, const std::string& b) {
  return !PathLess()(a, b) && !PathLess()(b, a);
}

// Searches `folders` in order for `dll`, records the load and returns the
// module: a DLL the process has loaded already without a search, mpr.dll and
// every other DLL from the system folder, a planted file from anywhere else.
void* SearchDll(Machine& m, const std::string& dll, const std::string& by,
                const std::vector<std::string>& folders) {
  auto loaded = m.loadedModules.find(dll);
  if (loaded != m.loadedModules.end()) {
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
      m.loadedModules[dll] = Machine::LoadedModule{module, folder};
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

}  // namespace

bool PathLess::operator()(const std::string& a, const std::string& b) const {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const char x = Upper(a[i]), y = Upper(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

Machine::Machine() {
  version.dwOSVersionInfoSize = platform::kOsVersionInfoExSize;
  version.dwMajorVersion = 10;
  version.dwMinorVersion = 0;
  version.dwBuildNumber = 19045;
  version.dwPlatformId = platform::kVerPlatformWin32Nt;
  AddFolder("C:\\");
  AddFolder("C:\\Setup");
  AddFolder("C:\\Users\\user\\AppData\\Local\\Temp");
}

Machine::~Machine() {
  for (auto& block : blocks) std::free(block.first);
  if (current == this) current = nullptr;
}

void Machine::Install() { current = this; }

Machine& Machine::Current() {
  if (current == nullptr) throw std::logic_error("no simulated machine installed");
  return *current;
}

uint32_t Machine::Run(const std::function<void()>& entry) {
  Install();
  try {
    entry();
    exitCode = 0;
    ended = true;
  } catch (const ProcessEnded& e) {
    exitCode = e.exitCode;
  }
  return exitCode;
}

void Machine::AddFolder(const std::string& path) {
  std::string k = Key(path);
  std::string parent = ParentOf(k);
  if (!parent.empty() && parent != k && !Exists(parent)) AddFolder(parent);
  Node node;
  node.folder = true;
  nodes[k] = node;
}

void Machine::AddFile(const std::string& path, std::vector<uint8_t> bytes) {
  AddSharedFile(path, std::make_shared<std::vector<uint8_t>>(std::move(bytes)));
}

void Machine::AddSharedFile(const std::string& path, std::shared_ptr<std::vector<uint8_t>> bytes) {
  std::string parent = ParentOf(path);
  if (!parent.empty() && !Exists(parent)) AddFolder(parent);
  Node node;
  node.bytes = std::move(bytes);
  nodes[Key(path)] = node;
}

bool Machine::CanStart(const std::string& path) const {
  if (!Exists(path) || IsFolder(path)) return false;
  const std::vector<uint8_t>& bytes = FileBytes(path);
  std::string why;
  if (pe::CheckProgram(bytes, pe::kMachineI386, &why)) return true;
  return wow64 && pe::CheckProgram(bytes, pe::kMachineAmd64, &why);
}

bool Machine::Exists(const std::string& path) const { return nodes.count(Key(path)) != 0; }

bool Machine::IsFolder(const std::string& path) const {
  auto it = nodes.find(Key(path));
  return it != nodes.end() && it->second.folder;
}

const std::vector<uint8_t>& Machine::FileBytes(const std::string& path) const {
  auto it = nodes.find(Key(path));
  if (it == nodes.end() || it->second.folder) throw std::logic_error("no file " + path);
  return *it->second.bytes;
}

std::vector<std::string> Machine::FilesIn(const std::string& folder) const {
  std::vector<std::string> out;
  const std::string f = Key(folder);
  for (const auto& n : nodes) {
    if (!n.second.folder && SamePath(ParentOf(n.first), f)) {
      out.push_back(n.first);
    }
  }
  return out;
}

int Machine::openHandles() const {
  int n = 0;
  for (const auto& h : handles) n += (h.second.read || h.second.write || h.second.search) ? 1 : 0;
  return n;
}

void Machine::FailCall(const std::string& operation, int nth) { failures[operation] = nth; }

void Machine::ShortenCall(const std::string& operation, uint32_t bytes, int nth) {
  shortenings[operation] = {nth, bytes};
}

bool Machine::Fault(const std::string& operation) {
  const int n = ++calls[operation];
  ++faultPointsSeen;
  if (failFaultPoint != 0 && faultPointsSeen == failFaultPoint) {
    Log("fault injected: " + operation);
    return true;
  }
  auto it = failures.find(operation);
  if (it != failures.end() && it->second == n) {
    Log("fault injected: " + operation);
    return true;
  }
  return false;
}

uint32_t Machine::Shortening(const std::string& operation, uint32_t count) {
  auto it = shortenings.find(operation);
  if (it != shortenings.end() && it->second.first == calls[operation]) {
    return std::min(count, it->second.second);
  }
  return count;
}

void Machine::Log(const std::string& line) {
  if (Live()) log.push_back(line);
}

int Machine::Find(const std::string& prefix) const {
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].compare(0, prefix.size(), prefix) == 0) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace sim

// ---------------------------------------------------------------------------
// The platform functions, acting on the installed machine.

namespace platform {

using sim::Machine;

namespace {

Machine& M() { return Machine::Current(); }

Handle NewHandle(Machine& m, Machine::Open open) {
  Handle h = m.nextHandle;
  m.nextHandle += 4;
  m.handles[h] = std::move(open);
  return h;
}

Machine::Open* FindOpen(Machine& m, Handle h) {
  auto it = m.handles.find(h);
  return it == m.handles.end() ? nullptr : &it->second;
}

// The program a command line starts: its first token, quotes removed.
std::string ProgramOf(const std::string& commandLine) {
  if (!commandLine.empty() && commandLine[0] == '"') {
    size_t end = commandLine.find('"', 1);
    return commandLine.substr(1, end == std::string::npos ? std::string::npos : end - 1);
  }
  return commandLine.substr(0, commandLine.find(' '));
}

// Whether Windows would start the file as a program on this machine: a
// Windows program of the machine's kind (x86-64 only on 64-bit Windows) whose
// headers and sections lie inside the file.

constexpr size_t kMaxPath = 260;            // with the terminating zero
constexpr size_t kMaxCommandLine = 32767;   // CreateProcessA, with the zero

// A running process whose image is `path` (it cannot be deleted then).
bool ImageInUse(const Machine& m, const std::string& path) {
  for (const Machine::Process& p : m.processes) {
    if (p.running && sim::SamePath(p.image, path)) return true;
  }
  return false;
}

// A new process for `image`: its process handle and its main thread's.
void StartProcess(Machine& m, const std::string& image, Handle* process, Handle* thread) {
  m.processes.push_back(Machine::Process{image, true});
  Machine::Open open;
  open.path = image;
  open.process = true;
  open.processIndex = static_cast<int>(m.processes.size()) - 1;
  *process = NewHandle(m, open);
  if (thread != nullptr) {
    open.process = false;
    open.thread = true;
    *thread = NewHandle(m, open);
  }
}

}  // namespace

Handle CreateFileA(const char* name, uint32_t access, uint32_t share, uint32_t disposition,
                   uint32_t flags) {
  Machine& m = M();
  m.Log(std::string("CreateFileA ") + name + " access=" + sim::Hex(access) +
        " share=" + std::to_string(share) + " disposition=" + std::to_string(disposition) +
        " flags=" + sim::Hex(flags));
  if (m.Fault("CreateFileA")) return kInvalidHandleValue;
  if (std::strlen(name) >= kMaxPath) return kInvalidHandleValue;  // ERROR_PATH_NOT_FOUND
  auto it = m.nodes.find(sim::Key(name));
  Machine::Open open;
  open.path = name;
  if (disposition == kOpenExisting) {
    if (it == m.nodes.end() || it->second.folder) return kInvalidHandleValue;
  } else if (disposition == kCreateAlways) {
    const std::string parent = sim::ParentOf(name);
    if (parent.empty() || !m.IsFolder(parent)) return kInvalidHandleValue;
    if (it != m.nodes.end() && it->second.folder) return kInvalidHandleValue;
    m.AddFile(name, {});
  } else {
    return kInvalidHandleValue;
  }
  open.read = (access & kGenericRead) != 0;
  open.write = (access & kGenericWrite) != 0;
  return NewHandle(m, open);
}

uint32_t SetFilePointer(Handle file, int32_t distance, uint32_t method) {
  Machine& m = M();
  m.Log("SetFilePointer " + std::to_string(distance) + " method=" + std::to_string(method));
  if (!m.Live()) return kInvalidSetFilePointer;
  Machine::Open* open = FindOpen(m, file);
  if (open == nullptr || method != kFileBegin || distance < 0) return kInvalidSetFilePointer;
  if (m.Fault("SetFilePointer")) return kInvalidSetFilePointer;
  open->position = static_cast<uint32_t>(distance);
  return static_cast<uint32_t>(distance);
}

Bool ReadFile(Handle file, void* buffer, uint32_t count, uint32_t* read) {
  Machine& m = M();
  m.Log("ReadFile " + std::to_string(count));
  *read = 0;
  if (!m.Live()) return 0;
  Machine::Open* open = FindOpen(m, file);
  if (open == nullptr || !open->read) return 0;
  if (m.Fault("ReadFile")) return 0;
  const auto& bytes = m.FileBytes(open->path);
  uint64_t available = open->position < bytes.size() ? bytes.size() - open->position : 0;
  uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count, available));
  n = m.Shortening("ReadFile", n);
  if (n > 0) std::memcpy(buffer, bytes.data() + open->position, n);
  open->position += n;
  *read = n;
  return 1;
}

Bool WriteFile(Handle file, const void* buffer, uint32_t count, uint32_t* written) {
  Machine& m = M();
  m.Log("WriteFile " + std::to_string(count));
  *written = 0;
  if (!m.Live()) return 0;
  Machine::Open* open = FindOpen(m, file);
  if (open == nullptr || !open->write) return 0;
  if (m.Fault("WriteFile")) return 0;
  uint32_t n = m.Shortening("WriteFile", count);
  auto& bytes = *m.nodes[sim::Key(open->path)].bytes;
  if (bytes.size() < open->position + n) bytes.resize(open->position + n);
  if (n > 0) std::memcpy(bytes.data() + open->position, buffer, n);
  open->position += n;
  *written = n;
  return n == count ? 1 : 0;
}

uint32_t GetFileSize(Handle file, uint32_t* high) {
  Machine& m = M();
  m.Log("GetFileSize");
  Machine::Open* open = FindOpen(m, file);
  if (open == nullptr || m.Fault("GetFileSize")) {
    if (high != nullptr) *high = 0;
    return 0xFFFFFFFFu;
  }
  const uint64_t size = m.FileBytes(open->path).size();
  if (high != nullptr) *high = static_cast<uint32_t>(size >> 32);
  return static_cast<uint32_t>(size);
}

Bool CloseHandle(Handle handle) {
  Machine& m = M();
  m.Log("CloseHandle " + std::to_string(handle));
  if (!m.Live()) return 1;
  if (m.Fault("CloseHandle")) return 0;
  // A search handle is closed by FindClose only; CloseHandle refuses it.
  auto it = m.handles.find(handle);
  if (it == m.handles.end() || it->second.search) return 0;
  m.handles.erase(it);
  return 1;
}

Bool DeleteFileA(const char* name) {
  Machine& m = M();
  m.Log(std::string("DeleteFileA ") + name);
  if (!m.Live()) return 0;
  if (m.Fault("DeleteFileA")) return 0;
  auto it = m.nodes.find(sim::Key(name));
  if (it == m.nodes.end() || it->second.folder) return 0;
  if (ImageInUse(m, name)) return 0;  // ERROR_ACCESS_DENIED: a running program's image
  for (const auto& h : m.handles) {
    if (!h.second.search && sim::SamePath(h.second.path, name) &&
        (h.second.read || h.second.write)) {
      return 0;  // in use
    }
  }
  m.nodes.erase(it);
  return 1;
}

Handle FindFirstFileA(const char* name) {
  Machine& m = M();
  m.Log(std::string("FindFirstFileA ") + name);
  if (!m.Live() || m.Fault("FindFirstFileA")) return kInvalidHandleValue;
  if (std::strlen(name) >= kMaxPath || !m.Exists(name)) return kInvalidHandleValue;
  Machine::Open open;
  open.path = name;
  open.search = true;
  return NewHandle(m, open);
}

Bool FindClose(Handle search) {
  Machine& m = M();
  m.Log("FindClose");
  auto it = m.handles.find(search);
  if (it == m.handles.end() || !it->second.search) return 0;
  m.handles.erase(it);
  return 1;
}

uint32_t GetTempPathA(uint32_t size, char* buffer) {
  Machine& m = M();
  m.Log("GetTempPathA " + std::to_string(size));
  if (m.tempPathFails) return 0;
  const uint32_t n = static_cast<uint32_t>(m.tempPath.size());
  if (n + 1 > size) return n + 1;
  std::memcpy(buffer, m.tempPath.c_str(), n + 1);
  return n;
}

// A path that does not fit: before Vista the buffer is filled without a
// terminating zero; from Vista on it ends in one; either way the size comes
// back.
uint32_t GetModuleFileNameA(char* buffer, uint32_t size) {
  Machine& m = M();
  if (size == 0) return 0;
  const size_t length = m.modulePath.size();
  if (length < size) {
    std::memcpy(buffer, m.modulePath.c_str(), length + 1);
    return static_cast<uint32_t>(length);
  }
  if (m.version.dwMajorVersion < 6) {
    std::memcpy(buffer, m.modulePath.data(), size);
  } else {
    std::memcpy(buffer, m.modulePath.data(), size - 1);
    buffer[size - 1] = 0;
  }
  return size;
}

const char* GetCommandLineA() {
  Machine& m = M();
  m.Log("GetCommandLineA");
  return m.commandLine.c_str();
}

Bool GetVersionExA(OsVersionInfo* info) {
  Machine& m = M();
  m.Log("GetVersionExA size=" + std::to_string(info->dwOSVersionInfoSize));
  const uint32_t size = info->dwOSVersionInfoSize;
  if (size != kOsVersionInfoSize && size != kOsVersionInfoExSize) return 0;
  if (m.versionQueryFails) return 0;
  if (size == kOsVersionInfoExSize && m.extendedVersionQueryFails) return 0;
  OsVersionInfo v = m.version;
  v.dwOSVersionInfoSize = size;
  std::memcpy(info, &v, size);
  return 1;
}

void* GetModuleHandleA(const char* name) {
  Machine& m = M();
  m.Log(std::string("GetModuleHandleA ") + name);
  std::string n;
  for (const char* p = name; *p != 0; ++p) n += sim::Upper(*p);
  if (n == "KERNEL32" || n == "KERNEL32.DLL") return &sim::kernel32Module;
  if (n == "ADVAPI32" || n == "ADVAPI32.DLL") return &sim::advapi32Module;
  return nullptr;
}

void* GetProcAddress(void* module, const char* name) {
  Machine& m = M();
  m.Log(std::string("GetProcAddress ") + name);
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
  Machine& m = M();
  m.Log(std::string("LoadLibraryExA ") + name + " flags=" + std::to_string(flags));
  const std::string path = name;
  const std::string folder = sim::FolderOf(path);
  if (!folder.empty()) return sim::SearchDll(m, path.substr(folder.size() + 1), "LoadLibraryExA", {folder});
  return sim::SearchDll(m, path, "LoadLibraryExA", sim::SearchOrder(m, flags));
}

uint32_t GetSystemDirectoryA(char* buffer, uint32_t size) {
  Machine& m = M();
  m.Log("GetSystemDirectoryA");
  if (m.systemDirectoryFails) return 0;
  const uint32_t length = static_cast<uint32_t>(m.systemDirectory.size());
  if (size <= length) return length + 1;
  std::memcpy(buffer, m.systemDirectory.c_str(), length + 1);
  return length;
}

Handle GetCurrentProcess() { return ~Handle(0); }

Bool CreateProcessA(char* commandLine, const char* currentDirectory, const StartupInfo* startup,
                    ProcessInformation* information) {
  Machine& m = M();
  m.Log(std::string("CreateProcessA ") + commandLine);
  if (m.Fault("CreateProcessA")) return 0;
  if (std::strlen(commandLine) >= kMaxCommandLine) return 0;  // ERROR_INVALID_PARAMETER
  if (currentDirectory != nullptr) {
    std::string folder = currentDirectory;
    if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
    if (!m.IsFolder(folder)) return 0;  // ERROR_DIRECTORY
  }
  const std::string program = ProgramOf(commandLine);
  if (!m.CanStart(program)) return 0;
  sim::ProcessStart start{};
  start.viaShell = false;
  start.commandLine = commandLine;
  start.currentDirectory = currentDirectory != nullptr ? currentDirectory : "";
  start.startupInfoSize = startup->cb;
  StartProcess(m, program, &information->hProcess, &information->hThread);
  start.process = information->hProcess;
  information->dwProcessId = 1000;
  information->dwThreadId = 1004;
  m.starts.push_back(start);
  if (m.onProcessStart) m.onProcessStart(start);
  return 1;
}

uint32_t WaitForSingleObject(Handle handle, uint32_t milliseconds) {
  Machine& m = M();
  m.Log("WaitForSingleObject " + std::to_string(handle) + " " + sim::Hex(milliseconds));
  if (m.Fault("WaitForSingleObject")) return 0xFFFFFFFFu;
  Machine::Open* open = FindOpen(m, handle);
  if (open == nullptr) return 0xFFFFFFFFu;  // WAIT_FAILED: no such handle
  if (open->process) m.processes[open->processIndex].running = false;
  return 0;
}

void ExitProcess(uint32_t exitCode) {
  Machine& m = M();
  m.Log("ExitProcess " + std::to_string(exitCode));
  m.ended = true;
  m.exitCode = exitCode;
  throw sim::ProcessEnded{exitCode};
}

uint32_t GetACP() { return M().codePage; }

int32_t MultiByteToWideChar(uint32_t codePage, uint32_t, const char* text, int32_t length,
                            char16_t* wide, int32_t wideLength) {
  if (length < 0) length = static_cast<int32_t>(std::strlen(text)) + 1;
  if (wide == nullptr || wideLength == 0) return length;
  if (wideLength < length) return 0;
  const std::u16string out = host::AnsiToWide(codePage, std::string(text, static_cast<size_t>(length)));
  std::memcpy(wide, out.data(), out.size() * sizeof(char16_t));
  return length;
}

int32_t WideCharToMultiByte(uint32_t codePage, uint32_t, const char16_t* wide, int32_t wideLength,
                            char* text, int32_t length) {
  const std::string out = host::WideToAnsi(codePage, std::u16string(wide, static_cast<size_t>(wideLength)));
  if (text == nullptr || length == 0) return static_cast<int32_t>(out.size());
  if (length < static_cast<int32_t>(out.size())) return 0;
  std::memcpy(text, out.data(), out.size());
  return static_cast<int32_t>(out.size());
}

const char* CharNextA(const char* p) {
  if (*p == 0) return p;
  if (host::IsLeadByte(M().codePage, static_cast<unsigned char>(*p)) && p[1] != 0) {
    return p + 2;
  }
  return p + 1;
}

namespace {

// The two free ranges of a 32-bit process (see Machine::largeAddressAware).
constexpr std::size_t kLowRange = (std::size_t(2) << 30) - (std::size_t(128) << 20);
constexpr std::size_t kHighRange = (std::size_t(2) << 30) - (std::size_t(64) << 10);

std::size_t RangeSize(const Machine& m, int range) {
  if (range == 0) return kLowRange;
  return m.largeAddressAware && m.wow64 ? kHighRange : 0;
}

// The range a block of `size` fits into besides what is there (`keep`
// bytes of an old block in that range excepted), or -1.
int FittingRange(const Machine& m, std::size_t size, int oldRange, std::size_t keep) {
  if (m.memoryInUse - keep + size > m.memoryLimit) return -1;
  for (int range = 0; range < 2; ++range) {
    const std::size_t used = m.rangeInUse[range] - (range == oldRange ? keep : 0);
    if (size <= RangeSize(m, range) - std::min(used, RangeSize(m, range))) return range;
  }
  return -1;
}

void Account(Machine& m, void* block, std::size_t size, int range) {
  m.blocks[block] = Machine::Block{size, range};
  m.rangeInUse[range] += size;
  m.memoryInUse += size;
  m.memoryPeak = std::max(m.memoryPeak, m.memoryInUse);
}

void Unaccount(Machine& m, std::map<void*, Machine::Block>::iterator it) {
  m.rangeInUse[it->second.range] -= it->second.size;
  m.memoryInUse -= it->second.size;
  m.blocks.erase(it);
}

}  // namespace

void* MemoryAllocate(std::size_t size) {
  Machine& m = M();
  m.largestRequest = std::max(m.largestRequest, size);
  const int range = m.Fault("MemoryAllocate") ? -1 : FittingRange(m, size, -1, 0);
  void* block = range < 0 ? nullptr : std::malloc(size);
  if (block == nullptr) {
    ++m.memoryRefusals;
    return nullptr;
  }
  Account(m, block, size, range);
  return block;
}

// A block that grows stays in its range when the range has room, otherwise
// moves (the old block is kept until the copy is made).
void* MemoryResize(void* block, std::size_t size) {
  Machine& m = M();
  auto it = m.blocks.find(block);
  if (it == m.blocks.end()) throw std::logic_error("resize of a block not allocated here");
  m.largestRequest = std::max(m.largestRequest, size);
  const Machine::Block old = it->second;
  int range = m.Fault("MemoryResize") ? -1 : FittingRange(m, size, old.range, old.size);
  if (range != old.range && range >= 0) range = FittingRange(m, size, -1, 0);  // moved: both exist at once
  void* resized = range < 0 ? nullptr : std::realloc(block, size);
  if (resized == nullptr) {
    ++m.memoryRefusals;
    return nullptr;
  }
  Unaccount(m, m.blocks.find(block));
  Account(m, resized, size, range);
  return resized;
}

void MemoryRelease(void* block) {
  Machine& m = M();
  auto it = m.blocks.find(block);
  if (it == m.blocks.end()) throw std::logic_error("release of a block not allocated here");
  Unaccount(m, it);
  std::free(block);
}

int32_t MessageBoxA(const char* text, const char* caption, uint32_t type) {
  Machine& m = M();
  m.Log(std::string("MessageBoxA ") + text);
  if (!m.Live()) return 0;
  sim::SystemLoads(m, "MessageBoxA");
  m.messageBoxes.push_back(sim::MessageBoxRecord{text, caption, type});
  return 1;
}

Bool AllocateAndInitializeSid(const uint8_t authority[6], uint8_t count, const uint32_t sub[8],
                              void** sid) {
  Machine& m = M();
  std::string text = "S-1-" + std::to_string(authority[5]);
  for (int i = 0; i < count && i < 8; ++i) text += "-" + std::to_string(sub[i]);
  m.Log("AllocateAndInitializeSid " + text);
  if (m.allocateSidFails) return 0;
  for (int i = 0; i < 5; ++i) {
    if (authority[i] != 0) text += "(bad authority)";
  }
  for (int i = count; i < 8; ++i) {
    if (sub[i] != 0) text += "(extra sub-authority)";
  }
  m.sidStorage = text;
  *sid = m.sidStorage.data();
  return 1;
}

void FreeSid(void*) { M().Log("FreeSid"); }

Bool ShellExecuteExA(ShellExecuteInfo* info) {
  Machine& m = M();
  m.Log(std::string("ShellExecuteExA ") + (info->lpVerb ? info->lpVerb : "(null)") + " " +
        (info->lpFile ? info->lpFile : "") + " " + (info->lpParameters ? info->lpParameters : ""));
  sim::SystemLoads(m, "ShellExecuteExA");
  if (m.Fault("ShellExecuteExA")) return 0;
  if (info->lpFile == nullptr || !m.CanStart(info->lpFile)) return 0;
  // The shell starts only files of a program type.
  const std::string file = info->lpFile;
  std::string type = file.size() >= 4 ? file.substr(file.size() - 4) : "";
  for (char& c : type) c = sim::Upper(c);
  if (type != ".EXE" && type != ".COM" && type != ".SCR") return 0;  // SE_ERR_NOASSOC
  sim::ProcessStart start{};
  start.viaShell = true;
  start.verb = info->lpVerb ? info->lpVerb : "";
  start.file = info->lpFile;
  start.parameters = info->lpParameters ? info->lpParameters : "";
  start.currentDirectory = info->lpDirectory ? info->lpDirectory : "";
  start.startupInfoSize = info->cbSize;
  start.mask = info->fMask;
  start.show = info->nShow;
  StartProcess(m, file, &start.process, nullptr);
  if (info->fMask & kSeeMaskNoCloseProcess) info->hProcess = start.process;
  m.starts.push_back(start);
  if (m.onProcessStart) m.onProcessStart(start);
  return 1;
}

}  // namespace platform
