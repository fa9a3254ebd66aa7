// Starting the setup program: direct or through the shell, its command line,
// the wait and the deletion of the copy.
#include <gtest/gtest.h>

#include "launcher/fatal.h"
#include "tests/helpers/test_packages.h"
#include "tools/packaging/windows_releases.h"

namespace {

using testing_support::GoodInput;

const std::string kCopy = "C:\\Users\\user\\AppData\\Local\\Temp\\setup.exe";

struct LaunchRun {
  sim::Machine machine;
  testing_support::Outcome outcome;
  bool copyExistedAtStart = false;
  int handlesAtStart = -1;
  size_t memoryAtStart = 0;
};

void Launch(LaunchRun* run, const std::string& arguments, uint8_t elevationMode = 0, bool detached = false) {
  packaging::PackageInput input = GoodInput();
  input.elevationMode = elevationMode;
  input.detached = detached;
  testing_support::PlacePackage(&run->machine, testing_support::Build(input).bytes, arguments);
  run->machine.onProcessStart = [run](const sim::ProcessStart&) {
    run->copyExistedAtStart = run->machine.Exists(kCopy);
    run->handlesAtStart = run->machine.openHandles();
    run->memoryAtStart = run->machine.memoryInUse;
  };
  run->outcome = testing_support::RunLauncherOn(&run->machine);
}

struct DecisionCase {
  uint32_t major;  // 0: the version cannot be queried
  bool administrator;
  bool viaShell;
};

TEST(StartDecisionTest, DirectBelowVistaOrForAdministrators) {
  const DecisionCase cases[] = {{0, false, false}, {5, false, false}, {5, true, false},
                                {6, false, true},  {6, true, false},  {10, false, true},
                                {10, true, false}};
  for (const DecisionCase& c : cases) {
    LaunchRun run;
    if (c.major == 0) run.machine.versionQueryFails = true;
    else packaging::PutOnRelease(*packaging::FindRelease(packaging::kPlatformNt, c.major, c.major == 5 ? 1 : 0), true, &run.machine);
    run.machine.administrator = c.administrator;
    Launch(&run, "/S", 1);
    ASSERT_EQ(run.machine.starts.size(), 1u) << c.major;
    EXPECT_EQ(run.machine.starts[0].viaShell, c.viaShell) << c.major << " admin " << c.administrator;
    // The administrator test is made only from Vista on.
    EXPECT_EQ(run.machine.Find("AllocateAndInitializeSid") >= 0, c.major >= 6);
  }
}

struct ShellCase {
  const char* arguments;
  uint8_t mode;
  const char* verb;
  bool noAdmin;
};

const ShellCase kShell[] = {
    {"", 0, "open", true},          {"", 1, "open", true},
    {"", 2, "open", true},          {"/S", 1, "runas", false},
    {"/silent", 1, "runas", false}, {"/SiLeNt", 0, "open", false},
    {"/silent", 0, "open", false},  {"/s", 2, "open", true},
    {"/s", 3, "open", false},       {"/s", 255, "open", false},
    {"/silentx", 1, "open", true},  {"/sx", 1, "open", true},
    {"a /s b", 1, "runas", false},
};

class ShellStartTest : public ::testing::TestWithParam<ShellCase> {};

TEST_P(ShellStartTest, VerbAndNoAdmin) {
  const ShellCase& c = GetParam();
  LaunchRun run;  // Windows 10, no administrator
  Launch(&run, c.arguments, c.mode);
  ASSERT_EQ(run.machine.starts.size(), 1u);
  const sim::ProcessStart& start = run.machine.starts[0];
  ASSERT_TRUE(start.viaShell);
  EXPECT_EQ(start.verb, c.verb);
  const std::string tail = " /noadmin";
  const bool hasNoAdmin = start.parameters.size() >= tail.size() &&
                          start.parameters.compare(start.parameters.size() - tail.size(), tail.size(), tail) == 0;
  EXPECT_EQ(hasNoAdmin, c.noAdmin) << start.parameters;
  EXPECT_EQ(start.file, kCopy);
  EXPECT_EQ(start.startupInfoSize, 60u);
  EXPECT_EQ(start.mask, 0x40u);
  EXPECT_EQ(start.show, 5);
  EXPECT_EQ(start.currentDirectory, "");
}

INSTANTIATE_TEST_SUITE_P(Table, ShellStartTest, ::testing::ValuesIn(kShell));

struct CommandCase {
  const char* arguments;
  const char* argumentString;
  std::string copy = kCopy;
};

const CommandCase kCommands[] = {
    {"", "\"C:\\Setup\\setup.exe\""},
    {"/s", "\"C:\\Setup\\setup.exe\" /s"},
    {"\"with blank\" plain", "\"C:\\Setup\\setup.exe\" \"with blank\" plain"},
    {"\"tab\there\"", "\"C:\\Setup\\setup.exe\" tab\there"},
    {"/temp \"D:\\My Folder\" /32", "\"C:\\Setup\\setup.exe\" /temp \"D:\\My Folder\" /32",
     "D:\\My Folder\\setup.exe"},
    {"a\"b c\"d", "\"C:\\Setup\\setup.exe\" \"ab cd\""},
};

TEST(CommandLineTest, DirectStartPassesTheCopyThePackageAndEveryArgument) {
  for (const CommandCase& c : kCommands) {
    LaunchRun run;
    run.machine.administrator = true;
    run.machine.AddFolder("D:\\My Folder");
    Launch(&run, c.arguments);
    ASSERT_EQ(run.machine.starts.size(), 1u);
    EXPECT_EQ(run.machine.starts[0].commandLine, "\"" + c.copy + "\" " + c.argumentString);
    EXPECT_EQ(run.machine.starts[0].currentDirectory, "C:\\Setup\\");
    EXPECT_EQ(run.machine.starts[0].startupInfoSize, 68u);
  }
}

TEST(CommandLineTest, ShellStartPassesTheSameArgumentString) {
  LaunchRun run;
  Launch(&run, "\"with blank\"");
  ASSERT_EQ(run.machine.starts.size(), 1u);
  EXPECT_EQ(run.machine.starts[0].parameters, "\"C:\\Setup\\setup.exe\" \"with blank\" /noadmin");
}

TEST(CommandLineTest, MappedDriveGivesTheUncPackagePathButNotTheFolder) {
  LaunchRun run;
  run.machine.administrator = true;
  run.machine.modulePath = "Z:\\Dist\\setup.exe";
  run.machine.mappedDrives['Z'] = "\\\\server\\share";
  Launch(&run, "");
  ASSERT_EQ(run.machine.starts.size(), 1u);
  EXPECT_EQ(run.machine.starts[0].commandLine, "\"" + kCopy + "\" \"\\\\server\\share\\Dist\\setup.exe\"");
  EXPECT_EQ(run.machine.starts[0].currentDirectory, "Z:\\Dist\\");
}

TEST(CommandLineTest, UncAndLocalPathsStayAsTheyAre) {
  for (const char* module : {"\\\\server\\share\\setup.exe", "C:\\Setup\\setup.exe"}) {
    LaunchRun run;
    run.machine.administrator = true;
    run.machine.modulePath = module;
    // Another drive is mapped; C: is local, and the network does not report it.
    run.machine.mappedDrives['Z'] = "\\\\server\\share";
    Launch(&run, "");
    ASSERT_EQ(run.machine.starts.size(), 1u) << module;
    EXPECT_EQ(run.machine.starts[0].commandLine, "\"" + kCopy + "\" \"" + module + "\"");
    EXPECT_EQ(run.machine.Find("WNetGetUniversalNameA") >= 0, module[1] == ':');
  }
}

// The wait is on the started process's own handle, and only its end lets the
// copy go (while it runs, Windows refuses to delete its image).
TEST(LaunchTest, WaitsOnTheProcessThenDeletesTheCopy) {
  for (const bool administrator : {true, false}) {
    LaunchRun run;
    run.machine.administrator = administrator;
    Launch(&run, "");
    ASSERT_EQ(run.machine.starts.size(), 1u);
    EXPECT_EQ(run.machine.starts[0].viaShell, !administrator);
    EXPECT_GE(run.machine.Find("WaitForSingleObject " + std::to_string(run.machine.starts[0].process) + " "), 0)
        << "administrator " << administrator;
    EXPECT_FALSE(run.machine.Exists(kCopy)) << "administrator " << administrator;
    EXPECT_FALSE(run.machine.ProcessRunning(0));
  }
}

TEST(LaunchTest, StreamsAndOwnFileAreReleasedBeforeTheStartAndTheCopyDeletedAfterTheWait) {
  LaunchRun run;
  Launch(&run, "");
  EXPECT_TRUE(run.copyExistedAtStart);
  EXPECT_EQ(run.handlesAtStart, 0) << "own file and copy closed";
  EXPECT_LT(run.memoryAtStart, 4096u) << "the payload is no longer held";
  const int wait = run.machine.Find("WaitForSingleObject");
  const int del = run.machine.Find("DeleteFileA " + kCopy);
  ASSERT_GE(wait, 0);
  EXPECT_EQ(run.machine.log[wait].substr(run.machine.log[wait].size() - 10), "0xFFFFFFFF");
  EXPECT_GT(del, wait);
  EXPECT_FALSE(run.machine.Exists(kCopy));
  EXPECT_EQ(run.outcome.exitCode, 0u);
  EXPECT_TRUE(run.outcome.boxes.empty());
}

TEST(LaunchTest, DetachedRunNeitherWaitsNorDeletes) {
  LaunchRun run;
  Launch(&run, "", 0, true);
  EXPECT_EQ(run.machine.Find("WaitForSingleObject"), -1);
  EXPECT_EQ(run.machine.Find("DeleteFileA"), -1);
  EXPECT_TRUE(run.machine.Exists(kCopy));
  EXPECT_EQ(run.outcome.exitCode, 0u);
}

TEST(LaunchTest, FailedStartShowsTheNotExecutedMessageAndTheCopyStays) {
  for (const char* operation : {"CreateProcessA", "ShellExecuteExA"}) {
    LaunchRun run;
    run.machine.administrator = std::string(operation) == "CreateProcessA";
    run.machine.FailCall(operation);
    Launch(&run, "");
    ASSERT_EQ(run.outcome.boxes.size(), 1u) << operation;
    EXPECT_EQ(run.outcome.boxes[0].text, launcher::kNotExecutedMessage);
    EXPECT_EQ(run.outcome.exitCode, 0u);
    EXPECT_TRUE(run.machine.Exists(kCopy));
  }
}

TEST(LaunchTest, FailedWaitOrDeletionIsNotReported) {
  for (const char* operation : {"WaitForSingleObject", "DeleteFileA"}) {
    LaunchRun run;
    run.machine.FailCall(operation);
    Launch(&run, "");
    EXPECT_TRUE(run.outcome.boxes.empty()) << operation;
    EXPECT_EQ(run.outcome.exitCode, 0u);
  }
}

TEST(AdministratorTest, MissingOrFailingChecksMeanNoAdministrator) {
  for (int variant = 0; variant < 3; ++variant) {
    LaunchRun run;
    run.machine.administrator = true;
    if (variant == 0) run.machine.allocateSidFails = true;
    if (variant == 1) run.machine.hasCheckTokenMembership = false;
    if (variant == 2) run.machine.checkTokenMembershipFails = true;
    Launch(&run, "");
    ASSERT_EQ(run.machine.starts.size(), 1u);
    EXPECT_TRUE(run.machine.starts[0].viaShell) << variant;
    EXPECT_EQ(run.machine.Find("FreeSid") >= 0, variant != 0) << "freed unless never made";
  }
}

TEST(AdministratorTest, AsksForTheAdministratorsGroupWithTheOwnToken) {
  LaunchRun run;
  run.machine.administrator = true;
  Launch(&run, "");
  EXPECT_GE(run.machine.Find("AllocateAndInitializeSid S-1-5-32-544"), 0);
  EXPECT_GE(run.machine.Find("CheckTokenMembership token=0"), 0);
  ASSERT_EQ(run.machine.starts.size(), 1u);
  EXPECT_FALSE(run.machine.starts[0].viaShell);
}

}  // namespace

// A run splits its command line once and reads every argument from that.
TEST(CommandLineTest, ARunReadsTheCommandLineOnce) {
  sim::Machine machine;
  machine.administrator = true;
  testing_support::PlacePackage(&machine, testing_support::GoodPackage().bytes,
                                "/temp C:\\Setup /s \"two words\" /32");
  const testing_support::Outcome outcome = testing_support::RunLauncherOn(&machine);
  ASSERT_TRUE(outcome.boxes.empty());
  ASSERT_EQ(machine.starts.size(), 1u);
  EXPECT_EQ(std::count(machine.log.begin(), machine.log.end(), "GetCommandLineA"), 1);
}
