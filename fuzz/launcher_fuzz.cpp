// Fuzz target: the whole main sequence on the simulated machine, over an
// arbitrary package file and an arbitrary command line.
//
// Input: one byte of machine settings, one byte n, n bytes of command line
// (after the program name), the rest is the launcher's own file. Besides no
// crash, no hang and no read outside a buffer, every run must end in exactly
// one of: the setup program started with the package path and every
// argument; one message box of the launcher's own (a fixed message or the
// package's, captioned with the launcher's path); runtime error 203, and
// only where the machine refused memory. The exit code is 0 unless a
// runtime error; no temporary copy is left except after the not-executed
// message or by a detached package (its program still runs); a completed run
// leaves no handle open.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/code_pages.h"
#include "launcher/arguments.h"
#include "launcher/fatal.h"
#include "launcher/main_sequence.h"
#include "launcher/setup_launch.h"
#include "platform/sim/sim_machine.h"
#include "tools/packaging/windows_releases.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t settings = data[0];
  const size_t n = data[1];
  if (size < 2 + n) return 0;
  sim::Machine machine;
  machine.memoryLimit = size_t(64) << 20;
  // Bits 3 to 5 and 7 choose the release, bit 0 its 64-bit edition.
  const size_t releases = sizeof packaging::kWindowsReleases / sizeof packaging::kWindowsReleases[0];
  const packaging::WindowsRelease& release = packaging::kWindowsReleases[((settings >> 3 & 7) | (settings >> 4 & 8)) % releases];
  packaging::PutOnRelease(release, (settings & 1) && release.has64Bit, &machine);
  machine.administrator = settings & 2;
  machine.codePage = host::CodePages()[(settings >> 2 & 1) % host::CodePages().size()];  // bit 2
  machine.versionQueryFails = settings & 0x40;
  std::string arguments(reinterpret_cast<const char*>(data + 2), n);
  arguments = arguments.substr(0, arguments.find('\0'));
  machine.commandLine = "\"" + machine.modulePath + "\" " + arguments;
  machine.AddFile(machine.modulePath, std::vector<uint8_t>(data + 2 + n, data + size));
  std::vector<std::string> given;  // the launcher's arguments, as it splits them
  const uint32_t code = machine.Run([&] {
    {
      launcher::ArgumentList list(machine.commandLine.c_str());
      for (int32_t i = 1; i <= list.Count(); ++i) given.push_back(list.At(i));
    }
    launcher::LauncherMain();
  });
  const auto& boxes = machine.messageBoxes;
  const auto& starts = machine.starts;
  if (boxes.size() + starts.size() != 1) std::abort();
  const bool copyLeft = machine.FileCount() > 1;
  if (!boxes.empty()) {
    const sim::MessageBoxRecord& box = boxes[0];
    if (box.caption == "Error") {
      // Runtime error 203, only where memory was refused; no copy left.
      if (code != 203 || box.text.rfind("Runtime error 203 at ", 0) != 0 || machine.memoryRefusals == 0) std::abort();
      if (copyLeft) std::abort();
    } else {
      if (code != 0 || box.caption != machine.modulePath || box.type != platform::kMbIconError) std::abort();
      if (copyLeft && box.text != launcher::kNotExecutedMessage) std::abort();
    }
  } else {
    // Started: the package path and every argument, in order; the copy is
    // gone unless the package is detached (then its program still runs).
    if (code != 0) std::abort();
    const sim::ProcessStart& start = starts[0];
    const std::string& line = start.viaShell ? start.parameters : start.commandLine;
    size_t at = line.find("\"" + machine.modulePath + "\"");
    if (at == std::string::npos) std::abort();
    for (const std::string& argument : given) {
      at = line.find(argument, at);
      if (at == std::string::npos) std::abort();
      at += argument.size();
    }
    const bool stillRunning = machine.ProcessRunning(0);
    if (copyLeft != stillRunning) std::abort();
    if (machine.openHandles() != 0) std::abort();
  }
  return 0;
}
