// Fault injection on the simulated machine: the nth call of an operation
// fails or moves fewer bytes, and every call is counted.
#include "platform/sim/sim_machine.h"

#include <algorithm>
#include <stdexcept>

#include "platform/sim/sim_state.h"

namespace sim {

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

int Machine::CallCount(const std::string& operation) const {
  auto it = state_->calls.find(operation);
  return it == state_->calls.end() ? 0 : it->second;
}

}  // namespace sim
