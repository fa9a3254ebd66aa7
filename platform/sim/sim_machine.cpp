// The simulated machine as a whole: its life, its runs, its handles and log,
// and the platform functions of the process (the command line, the version,
// its end). Its file store and its faults have files of their own.
#include "platform/sim/sim_machine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "platform/sim/sim_state.h"

namespace sim {

namespace {

Machine* current = nullptr;

}  // namespace

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

int Machine::openHandles() const {
  int n = 0;
  for (const auto& h : state_->handles) n += (h.second.read || h.second.write || h.second.search) ? 1 : 0;
  return n;
}

void Log(Machine& m, const std::string& line) {
  if (Live(m)) m.log.push_back(line);
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
