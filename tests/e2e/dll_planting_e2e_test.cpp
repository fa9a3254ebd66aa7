// DLL planting: DLLs that are not known DLLs, placed beside the package with
// Wine told to prefer them to its own (what Windows' search order does for
// such a DLL in the application's folder). None of them may be loaded, on the
// normal path, the message-box paths and the shell start. Left out: version
// and imm32, which Wine's own user32 loads from the application's folder
// before any launcher code runs (on Windows, user32's imports come from the
// system).
#include <dirent.h>

#include <gtest/gtest.h>

#include "launcher/fatal.h"
#include "tests/e2e/wine_harness.h"

namespace {

using e2e::Result;
using e2e::WineCase;

const char* const kPlanted[] = {
    "mpr",      "uxtheme", "dwmapi",  "cryptbase", "profapi", "userenv", "winmm",         "propsys",
    "secur32",  "sspicli", "netapi32", "wtsapi32", "apphelp", "dbghelp", "cryptsp",       "rsaenh",
    "msimg32",  "oleacc",  "windowscodecs", "shfolder", "ntmarta", "srvcli", "netutils", "wldp"};

const char kVersionMessage[] = "Not on %USER%.";

void Plant(WineCase& c) {
  std::string names;
  for (const char* name : kPlanted) {
    c.files[std::string(name) + ".dll"] = e2e::PlantedDll();
    names += (names.empty() ? "" : ",") + std::string(name);
  }
  c.environment = "WINEDLLOVERRIDES='mscoree,mshtml=;" + names + "=n,b'";
}

// Files in the case folder that a planted DLL left when it was loaded.
std::vector<std::string> Markers(const WineCase& r) {
  std::vector<std::string> found;
  DIR* dir = opendir(r.folder.c_str());
  if (dir == nullptr) return {"(case folder missing)"};
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() > 7 && name.compare(name.size() - 7, 7, ".loaded") == 0) found.push_back(name);
  }
  closedir(dir);
  return found;
}

WINE_CASE(planted_dlls_valid_package) {
  c.package = e2e::BuildOrDie(e2e::SamplePackageInput());
  Plant(c);
}
WINE_CASE(planted_dlls_32bit_windows) {
  c.package = e2e::BuildOrDie(e2e::SamplePackageInput());
  c.prefix = "win32";
  Plant(c);
}
WINE_CASE(planted_dlls_damaged_package) {
  packaging::PackageInput input = e2e::SamplePackageInput();
  packaging::BuiltPackage p;
  std::string error;
  packaging::BuildPackage(input, &p, &error);
  p.bytes[p.header.payload32.offset + 50] ^= 0x01;
  c.package = p.bytes;
  Plant(c);
}
WINE_CASE(planted_dlls_refused_version) {
  packaging::PackageInput input = e2e::SamplePackageInput();
  input.versionMessage = std::u16string(kVersionMessage, kVersionMessage + sizeof kVersionMessage - 1);
  input.allowedVersions = ~(uint64_t(1) << 7);  // not Windows 7
  c.package = e2e::BuildOrDie(input);
  c.exeName = "refused7.exe";
  c.windowsVersion = "win7";
  Plant(c);
}
WINE_CASE(planted_dlls_shell_start) {
  packaging::PackageInput input = e2e::SamplePackageInput();
  input.image = e2e::ShellStartLauncherImage();
  c.package = e2e::BuildOrDie(input);
  c.exeName = "plantedshell.exe";
  c.windowsVersion = "win7";
  Plant(c);
}

TEST(WineDllPlanting, NoPlantedDllIsLoaded) {
  for (const char* name : {"planted_dlls_valid_package", "planted_dlls_32bit_windows",
                           "planted_dlls_damaged_package", "planted_dlls_refused_version",
                           "planted_dlls_shell_start"}) {
    const WineCase& r = Result(name);
    EXPECT_EQ(Markers(r), std::vector<std::string>()) << name;
    EXPECT_EQ(r.exitCode, 0) << name;
  }
}

TEST(WineDllPlanting, TheRunsStillDoTheirJob) {
  for (const char* name : {"planted_dlls_valid_package", "planted_dlls_32bit_windows"}) {
    const WineCase& r = Result(name);
    EXPECT_TRUE(r.boxes.empty()) << name;
    EXPECT_TRUE(r.HasFile("setup.exe.received.txt")) << name << ": the setup program ran";
  }
  const WineCase& shell = Result("planted_dlls_shell_start");
  EXPECT_TRUE(shell.boxes.empty());
  EXPECT_NE(shell.ReadFile("plantedshell.exe.received.txt").find("/noadmin"), std::string::npos);

  const WineCase& damaged = Result("planted_dlls_damaged_package");
  ASSERT_EQ(damaged.boxes.size(), 1u);
  EXPECT_TRUE(e2e::ShownAs(damaged.boxes[0].text, launcher::kDamagedPackageMessage));

  const WineCase& refused = Result("planted_dlls_refused_version");
  ASSERT_EQ(refused.boxes.size(), 1u);
  EXPECT_EQ(refused.boxes[0].text, "Not on Windows 7.");
}

}  // namespace
