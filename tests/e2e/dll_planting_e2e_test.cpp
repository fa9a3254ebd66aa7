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
  input.image = e2e::TestLauncherImage("launcher_shell_start_test");
  c.package = e2e::BuildOrDie(input);
  c.exeName = "plantedshell.exe";
  c.windowsVersion = "win7";
  Plant(c);
}

// The same where SetDefaultDllDirectories is missing (XP, Vista, 7 without
// KB2533623), from a build that behaves so and is no administrator: the
// direct start (Windows XP), the shell start (Windows 7) and a message box.
void OlderSearch(WineCase& c, const char* exeName, const char* windowsVersion, bool damaged) {
  packaging::PackageInput input = e2e::SamplePackageInput();
  input.image = e2e::TestLauncherImage("launcher_no_search_api_test");
  packaging::BuiltPackage p;
  std::string error;
  packaging::BuildPackage(input, &p, &error);
  if (damaged) p.bytes[p.header.payload32.offset + 50] ^= 0x01;
  c.package = p.bytes;
  c.exeName = exeName;
  c.windowsVersion = windowsVersion;
  Plant(c);
}
WINE_CASE(planted_dlls_older_search_direct_start) { OlderSearch(c, "olderxp.exe", "winxp", false); }
WINE_CASE(planted_dlls_older_search_shell_start) { OlderSearch(c, "older7.exe", "win7", false); }
WINE_CASE(planted_dlls_older_search_damaged_package) { OlderSearch(c, "olderbox.exe", "win7", true); }

TEST(WineDllPlanting, NoPlantedDllIsLoaded) {
  for (const char* name : {"planted_dlls_valid_package", "planted_dlls_32bit_windows",
                           "planted_dlls_damaged_package", "planted_dlls_refused_version",
                           "planted_dlls_shell_start", "planted_dlls_older_search_direct_start",
                           "planted_dlls_older_search_shell_start",
                           "planted_dlls_older_search_damaged_package"}) {
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

  EXPECT_TRUE(Result("planted_dlls_older_search_direct_start").HasFile("olderxp.exe.received.txt"));
  EXPECT_NE(Result("planted_dlls_older_search_shell_start").ReadFile("older7.exe.received.txt").find("/noadmin"),
            std::string::npos);
  for (const char* name : {"planted_dlls_damaged_package", "planted_dlls_older_search_damaged_package"}) {
    const WineCase& damaged = Result(name);
    ASSERT_EQ(damaged.boxes.size(), 1u) << name;
    EXPECT_TRUE(e2e::ShownAs(damaged.boxes[0].text, launcher::kDamagedPackageMessage)) << name;
  }

  const WineCase& refused = Result("planted_dlls_refused_version");
  ASSERT_EQ(refused.boxes.size(), 1u);
  EXPECT_EQ(refused.boxes[0].text, "Not on Windows 7.");
}

}  // namespace
