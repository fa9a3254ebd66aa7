// Where the temporary copy goes, what it is called, and how it is written.
#include <gtest/gtest.h>

#include "launcher/fatal.h"
#include "launcher/temp_copy.h"
#include "tests/helpers/test_packages.h"

namespace {

using testing_support::GoodPackage;

const char kTemp[] = "C:\\Users\\user\\AppData\\Local\\Temp\\";

struct FolderCase {
  const char* arguments;
  const char* folder;
};

const FolderCase kFolders[] = {
    {"", kTemp},
    {"/TEMP", "C:\\Setup\\"},
    {"/temp D:\\A /Temp", "C:\\Setup\\"},
    {"/temp D:\\Work", "D:\\Work\\"},
    {"/temp D:\\Work\\", "D:\\Work\\"},
    {"/temp D:\\A /temp D:\\B", "D:\\B\\"},
    {"/temp /s", "/s\\"},
    {"/temp relative", "relative\\"},
    {"/tempx D:\\A", kTemp},
    {"/temp \"D:\\With Blank\"", "D:\\With Blank\\"},
    {"x /temp D:\\A y", "D:\\A\\"},
};

class ChooseFolderTest : public ::testing::TestWithParam<FolderCase> {};

TEST_P(ChooseFolderTest, GivesTheFolder) {
  sim::Machine machine;
  machine.Install();
  machine.commandLine = std::string("\"C:\\Setup\\setup.exe\" ") + GetParam().arguments;
  EXPECT_STREQ(launcher::ChooseTemporaryFolder().Chars(), GetParam().folder) << GetParam().arguments;
}

INSTANTIATE_TEST_SUITE_P(Arguments, ChooseFolderTest, ::testing::ValuesIn(kFolders));

TEST(TemporaryFolderTest, EmptyOrMissingTempPathMeansC) {
  sim::Machine machine;
  machine.Install();
  machine.tempPathFails = true;
  EXPECT_STREQ(launcher::ChooseTemporaryFolder().Chars(), "C:\\");
  machine.tempPathFails = false;
  machine.tempPath = "D:\\NoSlash";
  EXPECT_STREQ(launcher::ChooseTemporaryFolder().Chars(), "D:\\NoSlash\\");
  machine.tempPath = std::string(300, 'x');  // does not fit: the buffer stays empty
  EXPECT_STREQ(launcher::ChooseTemporaryFolder().Chars(), "C:\\");
}

struct NameCase {
  const char* module;
  std::vector<std::string> taken;
  bool takenAsFolder;
  const char* copy;
};

const NameCase kNames[] = {
    {"C:\\Setup\\setup.exe", {}, false, "T\\setup.exe"},
    {"C:\\Setup\\setup.exe", {"setup.exe"}, false, "T\\setup2.exe"},
    {"C:\\Setup\\setup.exe", {"setup.exe", "setup2.exe", "setup3.exe"}, false, "T\\setup4.exe"},
    {"C:\\Setup\\setup.exe", {"setup.exe", "setup3.exe"}, false, "T\\setup2.exe"},
    {"C:\\Setup\\setup.exe", {"setup.exe"}, true, "T\\setup2.exe"},
    {"C:\\Setup\\installer", {"installer"}, false, "T\\insta2ller"},
    {"C:\\Setup\\SETUP.EXE", {"setup.exe"}, false, "T\\SETUP2.EXE"},
};

TEST(MakeCopyPathTest, NumbersTakenNames) {
  for (const NameCase& c : kNames) {
    sim::Machine machine;
    machine.Install();
    machine.modulePath = c.module;
    machine.AddFolder("C:\\T");
    for (const std::string& name : c.taken) {
      if (c.takenAsFolder) machine.AddFolder("C:\\T\\" + name);
      else machine.AddFile("C:\\T\\" + name, {});
    }
    EXPECT_EQ(std::string(launcher::MakeCopyPath("C:\\T\\").Chars()), std::string("C:\\") + c.copy);
    EXPECT_EQ(machine.openHandles(), 0) << "every search that found a name is closed again";
  }
}

TEST(MakeCopyPathTest, ShortBasePathGetsTheDigitsInFront) {
  sim::Machine machine;
  machine.Install();
  machine.modulePath = "abc";
  machine.AddFile("abc", {});
  EXPECT_STREQ(launcher::MakeCopyPath("").Chars(), "2abc");
}

// Whole runs: the copy on disk and the order of events.
struct CopyRun {
  sim::Machine machine;
  testing_support::Outcome outcome;
  std::vector<std::string> filesAtStart;  // in the temporary folder when the program started
};

void RunCopy(CopyRun* run, const packaging::Bytes& package, const std::string& arguments = "") {
  testing_support::PlacePackage(&run->machine, package, arguments);
  run->machine.onProcessStart = [run](const sim::ProcessStart&) {
    run->filesAtStart = run->machine.FilesIn(kTemp);
  };
  run->outcome = testing_support::RunLauncherOn(&run->machine);
}

TEST(TemporaryCopyRunTest, CopyIsWrittenWholeAndDeletedAfterTheRun) {
  CopyRun run;
  packaging::BuiltPackage package = GoodPackage();
  RunCopy(&run, package.bytes);
  ASSERT_EQ(run.filesAtStart.size(), 1u);
  EXPECT_EQ(run.filesAtStart[0], std::string(kTemp) + "setup.exe");
  EXPECT_TRUE(run.machine.FilesIn(kTemp).empty());
  const int create = run.machine.Find(std::string("CreateFileA ") + kTemp + "setup.exe");
  ASSERT_GE(create, 0);
  EXPECT_EQ(run.machine.log[create], std::string("CreateFileA ") + kTemp +
                                         "setup.exe access=0x40000000 share=1 disposition=2 flags=0x80");
  EXPECT_EQ(run.machine.log[create + 1], "WriteFile 20000") << "one write of the whole program";
}

TEST(TemporaryCopyRunTest, CopyBesideTheLauncherIsNumbered) {
  CopyRun run;
  RunCopy(&run, GoodPackage().bytes, "/temp");
  ASSERT_EQ(run.machine.starts.size(), 1u);
  EXPECT_EQ(run.machine.starts[0].file, "C:\\Setup\\setup2.exe");
}

TEST(TemporaryCopyRunTest, CreateFailureShowsTheMessageAndLeavesNothing) {
  CopyRun run;
  RunCopy(&run, GoodPackage().bytes, "/temp D:\\Missing");
  ASSERT_EQ(run.outcome.boxes.size(), 1u);
  EXPECT_EQ(run.outcome.boxes[0].text, launcher::kTemporaryCopyMessage);
  EXPECT_EQ(run.outcome.exitCode, 0u);
  EXPECT_FALSE(run.machine.Exists("D:\\Missing\\setup.exe"));
  EXPECT_EQ(run.machine.Find("DeleteFileA"), -1);
}

TEST(TemporaryCopyRunTest, ShortWriteDeletesThePartialCopyBeforeTheMessage) {
  for (bool failing : {false, true}) {
    CopyRun run;
    if (failing) run.machine.FailCall("WriteFile");
    else run.machine.ShortenCall("WriteFile", 1000);
    RunCopy(&run, GoodPackage().bytes);
    ASSERT_EQ(run.outcome.boxes.size(), 1u);
    EXPECT_EQ(run.outcome.boxes[0].text, launcher::kTemporaryCopyMessage);
    const int close = run.machine.Find("CloseHandle");
    const int del = run.machine.Find(std::string("DeleteFileA ") + kTemp + "setup.exe");
    const int box = run.machine.Find("MessageBoxA");
    EXPECT_GT(close, run.machine.Find("WriteFile"));
    EXPECT_GT(del, close) << "closed before it is deleted";
    EXPECT_LT(del, box) << "deleted before the message is shown";
    EXPECT_FALSE(run.machine.Exists(std::string(kTemp) + "setup.exe"));
  }
}

TEST(TemporaryCopyRunTest, EmptyProgramGivesAnEmptyCopy) {
  packaging::PackageInput input = testing_support::GoodInput();
  input.program32 = packaging::Bytes();
  CopyRun run;
  RunCopy(&run, testing_support::Build(input).bytes);
  // An empty file is no executable: the start fails and the copy stays.
  ASSERT_EQ(run.outcome.boxes.size(), 1u);
  EXPECT_EQ(run.outcome.boxes[0].text, launcher::kNotExecutedMessage);
  ASSERT_TRUE(run.machine.Exists(std::string(kTemp) + "setup.exe"));
  EXPECT_TRUE(run.machine.FileBytes(std::string(kTemp) + "setup.exe").empty());
}

}  // namespace

namespace {

// Running out of memory after the copy was written, before the setup program
// started, must not leave the copy behind.
TEST(TemporaryCopyRunTest, ReportAfterTheWriteDeletesTheUnstartedCopy) {
  sim::Machine machine;
  machine.administrator = true;
  testing_support::PlacePackage(&machine, GoodPackage().bytes);
  // Fail the first allocation after the copy was closed.
  int allocationsBefore = 0;
  {
    sim::Machine counting;
    counting.administrator = true;
    testing_support::PlacePackage(&counting, GoodPackage().bytes);
    testing_support::RunLauncherOn(&counting);
    allocationsBefore = counting.CallCount("MemoryAllocate");
  }
  ASSERT_GT(allocationsBefore, 0);
  machine.FailCall("MemoryAllocate", allocationsBefore);  // the last allocation of the run
  const testing_support::Outcome outcome = testing_support::RunLauncherOn(&machine);
  ASSERT_EQ(outcome.boxes.size(), 1u);
  EXPECT_EQ(outcome.exitCode, 203u);
  EXPECT_FALSE(machine.Exists(kTemp + std::string("setup.exe")));
  EXPECT_GE(machine.Find("WriteFile"), 0) << "the copy had been written";
  ASSERT_GE(machine.Find("DeleteFileA"), 0);
  EXPECT_LT(machine.Find("DeleteFileA"), machine.Find("MessageBoxA")) << "deleted before the report";
  EXPECT_EQ(machine.Find("CreateProcessA"), -1);
}

}  // namespace
