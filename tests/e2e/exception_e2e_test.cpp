// The last-resort report for processor exceptions, from the test-only build
// that raises one once the temporary copy is written: the box, its caption,
// the exit code, and no copy left behind.
#include <gtest/gtest.h>

#include "tests/e2e/wine_harness.h"

namespace {

// The copy goes into the case's own folder ("setup2.exe" beside the
// package). The just-in-time debugger is one that attaches to nothing (Wine's
// own, winedbg --auto, would end the process first), so
// UnhandledExceptionFilter lets the launcher report the exception.
void Raising(e2e::WineCase& c, const std::string& exception) {
  packaging::PackageInput input = e2e::SamplePackageInput();
  input.image = e2e::TestLauncherImage("launcher_exception_test");
  c.package = e2e::BuildOrDie(input);
  c.arguments = "/temp \"$JOB_WINDOWS\\" + c.name + "\" " + exception;
  for (const char* view : {"", "Wow6432Node\\"}) {
    c.before += std::string("WINEDEBUG=-all wine reg add 'HKLM\\Software\\") + view +
                "Microsoft\\Windows NT\\CurrentVersion\\AeDebug' /v Debugger /d 'cmd /c rem' /f >/dev/null 2>&1\n";
  }
}
WINE_CASE(exception_access_violation) { Raising(c, "/raise-access-violation"); }
WINE_CASE(exception_division_by_zero) { Raising(c, "/raise-division-by-zero"); }

TEST(WineExceptionReport, RuntimeErrorBoxExitCodeAndNoCopyLeft) {
  for (const auto& [name, number] : {std::pair<const char*, int>{"exception_access_violation", 216},
                                     std::pair<const char*, int>{"exception_division_by_zero", 200}}) {
    const e2e::WineCase& r = e2e::Result(name);
    SCOPED_TRACE(name);
    EXPECT_EQ(r.exitCode, number);
    ASSERT_EQ(r.boxes.size(), 1u);
    const std::string prefix = "Runtime error " + std::to_string(number) + " at ";
    EXPECT_EQ(r.boxes[0].text.substr(0, prefix.size()), prefix);
    EXPECT_EQ(r.boxes[0].text.size(), prefix.size() + 8) << r.boxes[0].text;
    EXPECT_EQ(r.boxes[0].caption, "Error");
    EXPECT_FALSE(r.HasFile("setup.exe.received.txt")) << "the setup program never started";
    EXPECT_FALSE(r.HasFile("setup2.exe")) << "the written copy was deleted";
  }
}

}  // namespace
