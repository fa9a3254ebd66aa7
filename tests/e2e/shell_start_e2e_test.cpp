// The shell start for real: ShellExecuteExA with "open" and " /noadmin", from
// the test-only launcher that never counts as an administrator, on Wine's
// Windows 7. (Its whole verb table is covered on the simulated machine.)
#include <gtest/gtest.h>

#include "tests/e2e/wine_harness.h"

namespace {

WINE_CASE(shell_start_windows7) {
  packaging::PackageInput input = e2e::SamplePackageInput();
  input.image = e2e::TestLauncherImage("launcher_shell_start_test");
  input.elevationMode = 1;
  c.package = e2e::BuildOrDie(input);
  c.exeName = "shellstart.exe";
  c.windowsVersion = "win7";
  c.arguments = "first 'with blank'";
}

TEST(WineShellStart, OpenWithNoAdminAppended) {
  const e2e::WineCase& r = e2e::Result("shell_start_windows7");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.boxes.empty()) << (r.boxes.empty() ? "" : r.boxes[0].text);
  const std::string report = r.ReadFile("shellstart.exe.received.txt");
  EXPECT_NE(report.find("argv[1]: " + r.windowsFolder + "\\shellstart.exe\n"), std::string::npos) << report;
  EXPECT_NE(report.find("argv[2]: first\nargv[3]: with blank\nargv[4]: /noadmin\n"), std::string::npos) << report;
  EXPECT_NE(report.find("argc: 5\n"), std::string::npos) << report;
  EXPECT_EQ(r.ReadFile("temp-after.txt"), "") << "waited on the shell's process handle, then deleted the copy";
}

}  // namespace
