#include <cstdio>
#include <string>

#include "launcher/main_sequence.h"
#include "launcher/setup_launch.h"
#include "platform/sim/sim_machine.h"
#include "tools/package/package_reader.h"
#include "tools/package_tool/commands.h"

namespace tool {

namespace {

const char kUsage[] =
    "usage: setup-package verify PACKAGE\n"
    "\n"
    "Runs the launcher's own validation, requirement checks and decoding on a simulated\n"
    "machine for every row of the Windows version table, on 32-bit and 64-bit Windows,\n"
    "with and without /32, and prints what the launcher would do: which setup program it\n"
    "runs, or which message it shows. Exit status 1 when the package is damaged or\n"
    "would be refused everywhere.\n";

struct Machine {
  const char* name;
  uint32_t platformId, major, minor;
  uint16_t servicePack;
  bool has64Bit;  // whether a 64-bit edition exists
};

const Machine kMachines[] = {
    {"Windows 95", 1, 4, 0, 0, false},
    {"Windows 98", 1, 4, 10, 0, false},
    {"Windows ME", 1, 4, 90, 0, false},
    {"Windows NT 4", 2, 4, 0, 6, false},
    {"Windows 2000 SP3", 2, 5, 0, 3, false},
    {"Windows 2000 SP4", 2, 5, 0, 4, false},
    {"Windows XP", 2, 5, 1, 3, false},
    {"Windows XP x64 (5.2)", 2, 5, 2, 2, true},
    {"Windows Vista", 2, 6, 0, 2, true},
    {"Windows 7", 2, 6, 1, 1, true},
    {"Windows 8", 2, 6, 2, 0, true},
    {"Windows 8.1", 2, 6, 3, 0, true},
    {"Windows 6.4", 2, 6, 4, 0, true},
    {"Windows 10 and 11", 2, 10, 0, 0, true},
    {"later (11.0)", 2, 11, 0, 0, true},
};

// The box's text is in the machine's ANSI code page (1252); the terminal
// wants UTF-8.
std::string AnsiToUtf8(const std::string& ansi) {
  std::u16string wide(ansi.size(), u'\0');
  const int32_t n = platform::MultiByteToWideChar(1252, 0, ansi.data(), static_cast<int32_t>(ansi.size()),
                                                  &wide[0], static_cast<int32_t>(wide.size()));
  wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return packaging::Utf16ToUtf8(wide);
}

// One run of the launcher on the simulated machine; returns what it did.
std::string Outcome(const packaging::Bytes& file, const Machine& m, bool is64, bool with32,
                    const packaging::Bytes& program32, const packaging::Bytes& program64, bool* ran) {
  sim::Machine machine;
  machine.memoryLimit = size_t(3) << 30;
  machine.modulePath = "C:\\Setup\\setup.exe";
  machine.commandLine = std::string("\"C:\\Setup\\setup.exe\"") + (with32 ? " /32" : "");
  machine.AddFile(machine.modulePath, file);
  machine.version.dwPlatformId = m.platformId;
  machine.version.dwMajorVersion = m.major;
  machine.version.dwMinorVersion = m.minor;
  machine.version.wServicePackMajor = m.servicePack;
  machine.wow64 = is64;
  machine.hasIsWow64Process = !(m.major == 4 || (m.major == 5 && m.minor == 0));
  machine.administrator = true;
  std::string started;
  machine.onProcessStart = [&](const sim::ProcessStart& start) {
    const std::string copy = start.commandLine.substr(1, start.commandLine.find('"', 1) - 1);
    const packaging::Bytes& bytes = machine.FileBytes(copy);
    started = bytes == program32 ? "runs the 32-bit program" : bytes == program64 ? "runs the 64-bit program"
                                                                                 : "runs a program";
  };
  launcher::ResetAdministratorCacheForTesting();
  machine.Run([] { launcher::LauncherMain(); });
  *ran = false;
  if (!machine.messageBoxes.empty()) return "shows \"" + AnsiToUtf8(machine.messageBoxes[0].text) + "\"";
  if (started.empty()) return "ends without starting anything";
  *ran = true;
  return started;
}

}  // namespace

int Verify(Arguments& args) {
  std::string path;
  packaging::Bytes file;
  const int status = ReadPackageArguments(args, kUsage, nullptr, &path, &file);
  if (status >= 0) return status;
  const packaging::PackageView view = packaging::ReadPackage(file);
  packaging::Bytes program32, program64;
  std::string message;
  if (view.headerRead) {
    const launcher::PackageHeader& h = view.header;
    if (h.payload32.offset != 0) packaging::DecodeEntry(file, h.payload32, &program32, &message);
    if (h.payload64.offset != 0 && h.payload64.offset != launcher::kNotFor64BitWindows) {
      packaging::DecodeEntry(file, h.payload64, &program64, &message);
    }
  }
  std::printf("%s: what the launcher does\n\n", path.c_str());
  int runs = 0;
  for (const Machine& m : kMachines) {
    for (int is64 = 0; is64 <= (m.has64Bit ? 1 : 0); ++is64) {
      for (int with32 = 0; with32 <= 1; ++with32) {
        bool ran = false;
        const std::string outcome = Outcome(file, m, is64 != 0, with32 != 0, program32, program64, &ran);
        runs += ran ? 1 : 0;
        std::printf("  %-22s %-7s %-4s %s\n", m.name, is64 ? "64-bit" : "32-bit", with32 ? "/32" : "", outcome.c_str());
      }
    }
  }
  std::printf("\n");
  for (const std::string& p : view.problems) std::printf("problem: %s\n", p.c_str());
  if (runs == 0) {
    std::printf("the package runs on no machine\n");
    return 1;
  }
  return view.problems.empty() ? 0 : 1;
}

}  // namespace tool
