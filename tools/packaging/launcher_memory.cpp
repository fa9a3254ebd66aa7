// The memory the launcher gets on the tool's machine, and its out-of-memory verdicts.
#include "tools/packaging/launcher_memory.h"

#include "launcher/fatal.h"
#include "platform/sim/sim_machine.h"
#include "support/memory.h"

namespace packaging {

bool OutOfMemory(const std::string& message) {
  char text[32];
  launcher::FormatRuntimeError(launcher::kRuntimeErrorOutOfMemory, 0, text);
  const std::string prefix(text, std::string(text).find(" at "));  // "Runtime error 203"
  return message.compare(0, prefix.size(), prefix) == 0;
}

std::string BlockMemoryError(uint32_t length) {
  if (length <= kBlockEveryProcessGets) return "";
  sim::Machine machine;
  machine.memoryLimit = kMachineMemory;
  machine.Run([&] { support::ReleaseMemory(support::AllocateMemory(length)); });
  if (!machine.messageBoxes.empty() && OutOfMemory(machine.messageBoxes[0].text)) return machine.messageBoxes[0].text;
  return "";
}

}  // namespace packaging
