// Fuzz target: the whole main sequence on the simulated machine, over an
// arbitrary package file and an arbitrary command line.
//
// Input: one byte of machine settings, one byte n, n bytes of command line
// (after the program name), the rest is the launcher's own file. Every input
// must end in a message box and exit code 0, in runtime error 203, or in a
// completed run: no crash, no hang, no read outside a buffer.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "launcher/main_sequence.h"
#include "launcher/setup_launch.h"
#include "platform/sim/sim_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t settings = data[0];
  const size_t n = data[1];
  if (size < 2 + n) return 0;
  sim::Machine machine;
  machine.memoryLimit = size_t(64) << 20;
  machine.wow64 = settings & 1;
  machine.administrator = settings & 2;
  machine.codePage = (settings & 4) ? 932 : 1252;
  static const uint32_t kVersions[8][3] = {{1, 4, 10}, {2, 4, 0}, {2, 5, 0}, {2, 5, 1},
                                           {2, 6, 1},  {2, 6, 4}, {2, 10, 0}, {2, 11, 0}};
  const uint32_t* v = kVersions[(settings >> 3) & 7];
  machine.version.dwPlatformId = v[0];
  machine.version.dwMajorVersion = v[1];
  machine.version.dwMinorVersion = v[2];
  machine.versionQueryFails = settings & 0x40;
  std::string arguments(reinterpret_cast<const char*>(data + 2), n);
  arguments = arguments.substr(0, arguments.find('\0'));
  machine.commandLine = "\"" + machine.modulePath + "\" " + arguments;
  machine.AddFile(machine.modulePath, std::vector<uint8_t>(data + 2 + n, data + size));
  launcher::ResetAdministratorCacheForTesting();
  const uint32_t code = machine.Run([] { launcher::LauncherMain(); });
  if (machine.messageBoxes.size() > 1) std::abort();
  if (code != 0 && code != 203) std::abort();
  if (code == 203 && machine.messageBoxes.empty()) std::abort();
  return 0;
}
