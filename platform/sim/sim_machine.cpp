#include "platform/sim/sim_machine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "host/pe_image.h"
#include "platform/sim/sim_state.h"

namespace sim {

namespace {

Machine* current = nullptr;

}  // namespace

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

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

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool SameText(const std::string& a, const std::string& b) {
  return !PathLess()(a, b) && !PathLess()(b, a);
}

bool PathLess::operator()(const std::string& a, const std::string& b) const {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const char x = Upper(a[i]), y = Upper(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

Machine::Machine() : state_(new State) {
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
  FreeBlocks(*state_);
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
  for (const auto& [block, held] : state_->blocks) largestSettled = std::max(largestSettled, held.size);
  return exitCode;
}

void Machine::AddFolder(const std::string& path) {
  std::string k = Key(path);
  std::string parent = ParentOf(k);
  if (!parent.empty() && parent != k && !Exists(parent)) AddFolder(parent);
  Node node;
  node.folder = true;
  state_->nodes[k] = node;
}

namespace {

// A file at `path`, its folders made first.
void PlaceFile(Machine& m, const std::string& path, Node node) {
  const std::string parent = ParentOf(path);
  if (!parent.empty() && !m.Exists(parent)) m.AddFolder(parent);
  StateOf(m).nodes[Key(path)] = std::move(node);
}

}  // namespace

void Machine::AddFile(const std::string& path, std::vector<uint8_t> bytes) {
  Node node;
  node.own = std::make_shared<std::vector<uint8_t>>(std::move(bytes));
  PlaceFile(*this, path, std::move(node));
}

void Machine::AddSharedFile(const std::string& path, std::shared_ptr<std::vector<uint8_t>> bytes) {
  const host::ByteView view(*bytes);
  AddHeldFile(path, view, std::move(bytes));
}

void Machine::AddHeldFile(const std::string& path, host::ByteView bytes, std::shared_ptr<const void> owner) {
  Node node;
  node.owner = std::move(owner);
  node.kept = bytes;
  node.size = bytes.size();
  PlaceFile(*this, path, std::move(node));
}

void Machine::DeclareBlock(const void* block, host::ByteView head, uint64_t size, std::shared_ptr<const void> owner) {
  if (state_->blocks.count(const_cast<void*>(block)) == 0) throw std::logic_error("DeclareBlock: no such block");
  state_->declared[block] = Declared{head.First(size), size, std::move(owner)};
}

bool Machine::CanStart(const std::string& path) const {
  if (!Exists(path) || IsFolder(path)) return false;
  const Node& node = state_->nodes.at(Key(path));
  std::string why;
  if (pe::CheckProgram(KeptBytes(node), SizeOf(node), pe::kMachineI386, &why)) return true;
  if (wow64) return pe::CheckProgram(KeptBytes(node), SizeOf(node), pe::kMachineAmd64, &why);
  return dosSubsystem && pe::IsDosProgram(KeptBytes(node), SizeOf(node));
}

bool Machine::Exists(const std::string& path) const { return state_->nodes.count(Key(path)) != 0; }

bool Machine::IsFolder(const std::string& path) const {
  auto it = state_->nodes.find(Key(path));
  return it != state_->nodes.end() && it->second.folder;
}

host::ByteView Machine::FileStart(const std::string& path) const {
  auto it = state_->nodes.find(Key(path));
  if (it == state_->nodes.end() || it->second.folder) throw std::logic_error("no file " + path);
  return KeptBytes(it->second);
}

uint64_t Machine::FileSize(const std::string& path) const {
  FileStart(path);
  return SizeOf(state_->nodes.at(Key(path)));
}

host::ByteView Machine::FileBytes(const std::string& path) const {
  const host::ByteView start = FileStart(path);
  if (start.size() != FileSize(path)) throw std::logic_error("only the start of " + path + " is kept");
  return start;
}

std::vector<std::string> Machine::FilesIn(const std::string& folder) const {
  std::vector<std::string> out;
  const std::string f = Key(folder);
  for (const auto& n : state_->nodes) {
    if (!n.second.folder && SamePath(ParentOf(n.first), f)) {
      out.push_back(n.first);
    }
  }
  return out;
}

int Machine::openHandles() const {
  int n = 0;
  for (const auto& h : state_->handles) n += (h.second.read || h.second.write || h.second.search) ? 1 : 0;
  return n;
}

void Machine::FailCall(const std::string& operation, int nth) {
  static const char* const kOperations[] = {"CreateFileA",    "ReadFile",        "WriteFile",
                                            "SetFilePointer", "GetFileSize",     "DeleteFileA",
                                            "CreateProcessA", "ShellExecuteExA", "WaitForSingleObject",
                                            "MemoryAllocate", "MemoryResize",    "FindFirstFileA",
                                            "CloseHandle"};
  for (const char* known : kOperations) {
    if (operation == known) {
      state_->failures[operation] = nth;
      return;
    }
  }
  throw std::logic_error("FailCall: no fault-eligible operation \"" + operation + "\"");
}

void Machine::ShortenCall(const std::string& operation, uint32_t bytes, int nth) {
  state_->shortenings[operation] = {nth, bytes};
}

bool Fault(Machine& m, const std::string& operation) {
  State& s = StateOf(m);
  const int n = ++s.calls[operation];
  ++m.faultPointsSeen;
  if (m.failFaultPoint != 0 && m.faultPointsSeen == m.failFaultPoint) {
    Log(m, "fault injected: " + operation);
    return true;
  }
  auto it = s.failures.find(operation);
  if (it != s.failures.end() && it->second == n) {
    Log(m, "fault injected: " + operation);
    return true;
  }
  return false;
}

uint32_t Shortening(Machine& m, const std::string& operation, uint32_t count) {
  State& s = StateOf(m);
  auto it = s.shortenings.find(operation);
  if (it != s.shortenings.end() && it->second.first == s.calls[operation]) {
    return std::min(count, it->second.second);
  }
  return count;
}

void Log(Machine& m, const std::string& line) {
  if (Live(m)) m.log.push_back(line);
}

int Machine::CallCount(const std::string& operation) const {
  auto it = state_->calls.find(operation);
  return it == state_->calls.end() ? 0 : it->second;
}

int Machine::FileCount() const {
  int n = 0;
  for (const auto& node : state_->nodes) n += node.second.folder ? 0 : 1;
  return n;
}

bool Machine::ProcessRunning(size_t index) const { return state_->processes.at(index).running; }

int Machine::Find(const std::string& prefix) const {
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].compare(0, prefix.size(), prefix) == 0) return static_cast<int>(i);
  }
  return -1;
}

State& StateOf(Machine& machine) { return *machine.state_; }
const State& StateOf(const Machine& machine) { return *machine.state_; }

platform::Handle NewHandle(Machine& m, Open open) {
  platform::Handle h = StateOf(m).nextHandle;
  StateOf(m).nextHandle += 4;
  StateOf(m).handles[h] = std::move(open);
  return h;
}

Open* FindOpen(Machine& m, platform::Handle h) {
  auto it = StateOf(m).handles.find(h);
  return it == StateOf(m).handles.end() ? nullptr : &it->second;
}

}  // namespace sim

// The platform functions of the machine as a whole: handles, the command
// line, the version and the end of the process. The other areas have files
// of their own.
namespace platform {

using sim::TheMachine;
using sim::Machine;

Bool CloseHandle(Handle handle) {
  Machine& m = TheMachine();
  Log(m, "CloseHandle " + std::to_string(handle));
  if (!Live(m)) return 1;
  if (Fault(m, "CloseHandle")) return 0;
  // A search handle is closed by FindClose only; CloseHandle refuses it.
  auto it = StateOf(m).handles.find(handle);
  if (it == StateOf(m).handles.end() || it->second.search) return 0;
  StateOf(m).handles.erase(it);
  return 1;
}

const char* GetCommandLineA() {
  Machine& m = TheMachine();
  Log(m, "GetCommandLineA");
  return m.commandLine.c_str();
}

Bool GetVersionExA(OsVersionInfo* info) {
  Machine& m = TheMachine();
  Log(m, "GetVersionExA size=" + std::to_string(info->dwOSVersionInfoSize));
  const uint32_t size = info->dwOSVersionInfoSize;
  if (size != kOsVersionInfoSize && size != kOsVersionInfoExSize) return 0;
  if (m.versionQueryFails) return 0;
  if (size == kOsVersionInfoExSize && m.extendedVersionQueryFails) return 0;
  OsVersionInfo v = m.version;
  v.dwOSVersionInfoSize = size;
  std::memcpy(info, &v, size);
  return 1;
}

void ExitProcess(uint32_t exitCode) {
  Machine& m = TheMachine();
  Log(m, "ExitProcess " + std::to_string(exitCode));
  m.ended = true;
  m.exitCode = exitCode;
  throw sim::ProcessEnded{exitCode};
}

}  // namespace platform
