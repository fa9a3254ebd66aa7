// Payload choice and the Windows version check, in whole runs.
#include <gtest/gtest.h>

#include "launcher/fatal.h"
#include "tests/helpers/test_packages.h"

namespace {

using testing_support::Build;
using testing_support::FakeProgram;
using testing_support::GoodInput;
using testing_support::U16;

const char kArchitecture[] = "This package does not suit this machine (%USER%).";
const char kVersion[] = "Not for %USER%.";

// A package whose 32-bit and 64-bit programs can be told apart by size.
constexpr uint32_t kSize32 = 20000, kSize64 = 30000;

enum class Offset64 { kAbsent, kNotFor64Bit, kPresent };

packaging::Bytes MakePackage(bool has32, Offset64 offset64, uint64_t allowed = ~0ull) {
  packaging::PackageInput input = GoodInput();
  input.architectureMessage = U16(kArchitecture);
  input.versionMessage = U16(kVersion);
  input.allowedVersions = allowed;
  if (!has32) input.program32.reset();
  if (offset64 == Offset64::kPresent || !has32) input.program64 = FakeProgram(kSize64, 9);
  input.notFor64BitWindows = offset64 == Offset64::kNotFor64Bit;
  return Build(input).bytes;
}

struct ChoiceRun {
  sim::Machine machine;
  testing_support::Outcome outcome;
  // The size of the program that was started, 0 when none was.
  size_t startedSize = 0;
};

void RunOn(ChoiceRun* run, const packaging::Bytes& package, const std::string& arguments) {
  testing_support::PlacePackage(&run->machine, package, arguments);
  run->machine.onProcessStart = [run](const sim::ProcessStart& start) {
    const std::string program = start.viaShell ? start.file : start.commandLine.substr(1, start.commandLine.find('"', 1) - 1);
    run->startedSize = run->machine.FileBytes(program).size();
  };
  run->outcome = testing_support::RunLauncherOn(&run->machine);
}

enum class Chosen { k32, k64, kArchitectureMessage };

struct ChoiceCase {
  const char* name;
  bool has32;
  Offset64 offset64;
  const char* arguments;
  bool wow64;
  Chosen chosen;
};

const ChoiceCase kChoices[] = {
    {"not_for_64_on_32", true, Offset64::kNotFor64Bit, "", false, Chosen::k32},
    {"not_for_64_on_64", true, Offset64::kNotFor64Bit, "", true, Chosen::kArchitectureMessage},
    {"not_for_64_on_64_with_32", true, Offset64::kNotFor64Bit, "/32", true, Chosen::kArchitectureMessage},
    {"one_for_all_on_32", true, Offset64::kAbsent, "", false, Chosen::k32},
    {"one_for_all_on_64", true, Offset64::kAbsent, "", true, Chosen::k32},
    {"two_with_32_on_64", true, Offset64::kPresent, "/32", true, Chosen::k32},
    {"two_with_32_last_on_64", true, Offset64::kPresent, "a /32", true, Chosen::k32},
    {"two_with_32_first_on_64", true, Offset64::kPresent, "/32 b", true, Chosen::k32},
    {"two_with_32_on_32", true, Offset64::kPresent, "/32", false, Chosen::k32},
    {"two_on_32", true, Offset64::kPresent, "", false, Chosen::k32},
    {"two_on_64", true, Offset64::kPresent, "", true, Chosen::k64},
    {"two_32x_on_64", true, Offset64::kPresent, "/32x", true, Chosen::k64},
    {"two_quoted_32_blank_on_64", true, Offset64::kPresent, "\"/32 \"", true, Chosen::k64},
    {"only_64_on_64", false, Offset64::kPresent, "", true, Chosen::k64},
    {"only_64_on_64_with_32", false, Offset64::kPresent, "/32", true, Chosen::k64},
    {"only_64_on_32", false, Offset64::kPresent, "", false, Chosen::kArchitectureMessage},
};

class ChoosePayloadTest : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(ChoosePayloadTest, RunsTheFittingProgram) {
  const ChoiceCase& c = GetParam();
  ChoiceRun run;
  run.machine.wow64 = c.wow64;
  RunOn(&run, MakePackage(c.has32, c.offset64), c.arguments);
  EXPECT_EQ(run.outcome.exitCode, 0u);
  switch (c.chosen) {
    case Chosen::k32: EXPECT_EQ(run.startedSize, kSize32); break;
    case Chosen::k64: EXPECT_EQ(run.startedSize, kSize64); break;
    case Chosen::kArchitectureMessage:
      ASSERT_EQ(run.outcome.boxes.size(), 1u);
      EXPECT_EQ(run.outcome.boxes[0].text, kArchitecture) << "no substitution";
      EXPECT_EQ(run.startedSize, 0u);
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ChoosePayloadTest, ::testing::ValuesIn(kChoices),
                         [](const ::testing::TestParamInfo<ChoiceCase>& i) { return std::string(i.param.name); });

TEST(RequirementsTest, MissingOrFailingIsWow64ProcessMeans32Bit) {
  for (int variant = 0; variant < 2; ++variant) {
    ChoiceRun run;
    run.machine.wow64 = true;
    if (variant == 0) run.machine.hasIsWow64Process = false;
    else run.machine.isWow64ProcessFails = true;
    RunOn(&run, MakePackage(false, Offset64::kPresent), "");
    ASSERT_EQ(run.outcome.boxes.size(), 1u);
    EXPECT_EQ(run.outcome.boxes[0].text, kArchitecture);
  }
}

TEST(RequirementsTest, ArchitectureIsCheckedBeforeTheVersion) {
  ChoiceRun run;
  run.machine.wow64 = false;
  RunOn(&run, MakePackage(false, Offset64::kPresent, 0), "");
  ASSERT_EQ(run.outcome.boxes.size(), 1u);
  EXPECT_EQ(run.outcome.boxes[0].text, kArchitecture);
  EXPECT_EQ(run.machine.Find("GetVersionExA"), -1);
}

struct VersionCase {
  uint32_t platformId, major, minor;
  uint16_t servicePack;
  uint64_t allowed;
  const char* shown;  // nullptr: passes
};

constexpr uint64_t Bits(std::initializer_list<int> bits) {
  uint64_t v = 0;
  for (int b : bits) v |= uint64_t(1) << b;
  return v;
}

const uint64_t kExample = 0x80000000000007FEull;  // bits 1 to 10 and 63

const VersionCase kVersions[] = {
    {1, 4, 0, 0, kExample, "Not for Windows 95."},
    {1, 4, 10, 0, kExample, nullptr},
    {1, 4, 90, 0, kExample, nullptr},
    {2, 4, 0, 0, kExample, nullptr},
    {2, 5, 0, 0, kExample, nullptr},  // bits 1 and 2 set: any service pack
    {2, 5, 1, 0, kExample, nullptr},
    {2, 6, 3, 0, kExample, nullptr},
    {2, 6, 4, 0, ~0ull, "Not for Windows 6.4."},
    {2, 10, 0, 0, kExample, nullptr},
    {2, 10, 0, 0, Bits({63}), "Not for Windows 10."},
    {2, 10, 1, 0, Bits({10}), "Not for Windows 10.1."},
    {2, 10, 12, 0, Bits({10}), "Not for Windows 10.12."},
    {2, 10, 12, 0, Bits({63}), nullptr},
    {2, 7, 0, 0, Bits({10}), "Not for Windows 07.0."},
    {2, 7, 0, 0, Bits({63}), nullptr},
    {2, 11, 0, 0, Bits({10}), "Not for Windows 11.0."},
    {2, 11, 0, 0, Bits({63}), nullptr},
    {2, 5, 2, 0, Bits({5}), nullptr},
    {2, 5, 2, 0, Bits({4, 6}), "Not for Windows XP."},
    {2, 6, 1, 0, 0, "Not for Windows 7."},
    {2, 5, 0, 4, 0, "Not for Windows 2000."},  // the service pack is not looked at
    {2, 5, 0, 0, Bits({4}), "Not for Windows 2000 (no Service Pack)."},
    {2, 5, 0, 1, Bits({4}), "Not for Windows 2000 Service Pack 1."},
    {2, 5, 0, 3, Bits({4}), "Not for Windows 2000 Service Pack 3."},
    {2, 5, 0, 4, Bits({4}), nullptr},
    {2, 5, 0, 9, Bits({4}), nullptr},
    {2, 5, 0, 3, Bits({4, 1}), nullptr},
    {2, 5, 0, 3, Bits({4, 0}), nullptr},
    {2, 5, 0, 3, Bits({4, 2}), nullptr},
};

class VersionCheckTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionCheckTest, PassesOrShowsTheVersionMessage) {
  const VersionCase& c = GetParam();
  ChoiceRun run;
  run.machine.version.dwPlatformId = c.platformId;
  run.machine.version.dwMajorVersion = c.major;
  run.machine.version.dwMinorVersion = c.minor;
  run.machine.version.wServicePackMajor = c.servicePack;
  RunOn(&run, MakePackage(true, Offset64::kAbsent, c.allowed), "");
  EXPECT_EQ(run.outcome.exitCode, 0u);
  if (c.shown == nullptr) {
    EXPECT_TRUE(run.outcome.boxes.empty()) << run.outcome.boxes[0].text;
    EXPECT_EQ(run.startedSize, kSize32);
  } else {
    ASSERT_EQ(run.outcome.boxes.size(), 1u);
    EXPECT_EQ(run.outcome.boxes[0].text, c.shown);
    EXPECT_EQ(run.startedSize, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, VersionCheckTest, ::testing::ValuesIn(kVersions));

TEST(RequirementsTest, AllZeroSetRefusesEverySystemWhoseVersionCanBeQueried) {
  ChoiceRun run;
  RunOn(&run, MakePackage(true, Offset64::kAbsent, 0), "");
  ASSERT_EQ(run.outcome.boxes.size(), 1u);
  EXPECT_EQ(run.outcome.boxes[0].text, "Not for Windows 10.");
}

TEST(RequirementsTest, FailedVersionQueryPassesAndTheStartIsDirect) {
  ChoiceRun run;
  run.machine.versionQueryFails = true;
  RunOn(&run, MakePackage(true, Offset64::kAbsent, 0), "");
  EXPECT_TRUE(run.outcome.boxes.empty());
  ASSERT_EQ(run.machine.starts.size(), 1u);
  EXPECT_FALSE(run.machine.starts[0].viaShell) << "major version 0 means the direct start";
}

TEST(RequirementsTest, FailedExtendedQueryMeansNoServicePackRefusal) {
  ChoiceRun run;
  run.machine.version.dwMajorVersion = 5;
  run.machine.version.dwMinorVersion = 0;
  run.machine.extendedVersionQueryFails = true;
  RunOn(&run, MakePackage(true, Offset64::kAbsent, Bits({4})), "");
  EXPECT_TRUE(run.outcome.boxes.empty());
  EXPECT_GE(run.machine.Find("GetVersionExA size=156"), 0);
}

}  // namespace
