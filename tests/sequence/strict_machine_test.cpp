// Whole runs where the simulated machine is as strict as Windows: which
// programs start, the limits of paths and command lines, the shell's file
// types, the ANSI conversion of messages, and a 32-bit address space.
#include <functional>

#include <stdexcept>

#include <gtest/gtest.h>

#include "launcher/arguments.h"
#include "launcher/fatal.h"
#include "tests/helpers/test_packages.h"

namespace {

using packaging::PackageInput;
using testing_support::FakeProgram;

const char* const kRuns = "(runs)";

struct StrictCase {
  const char* name;
  std::function<void(PackageInput&)> input;
  std::function<void(sim::Machine&)> machine;
  std::string arguments;
  const char* box;  // kRuns: the program starts and no box is shown
};

const StrictCase kCases[] = {
    // Windows starts a 64-bit program only on 64-bit Windows (here: a
    // 64-bit program put in the 32-bit slot), and no program that is cut
    // short or is just "MZ".
    {"64_bit_program_on_32_bit_windows", [](PackageInput& i) { i.program32 = FakeProgram(20000, 3, pe::kMachineAmd64); },
     [](sim::Machine& m) { m.wow64 = false; }, "", launcher::kNotExecutedMessage},
    {"64_bit_program_on_64_bit_windows", [](PackageInput& i) { i.program32 = FakeProgram(20000, 3, pe::kMachineAmd64); },
     nullptr, "", kRuns},
    {"program_cut_short",
     [](PackageInput& i) {
       i.program32 = FakeProgram(20000, 4);
       i.program32->resize(10000);
     },
     nullptr, "", launcher::kNotExecutedMessage},
    {"just_mz", [](PackageInput& i) { i.program32 = packaging::Bytes{'M', 'Z'}; }, nullptr, "",
     launcher::kNotExecutedMessage},
    // Paths of 260 characters or more cannot be created.
    {"temp_path_too_long", nullptr,
     [](sim::Machine& m) {
       m.tempPath = "C:\\" + std::string(250, 't') + "\\";
       m.AddFolder(m.tempPath);
     },
     "", launcher::kTemporaryCopyMessage},
    {"temp_path_just_short_enough", nullptr,
     [](sim::Machine& m) {
       m.tempPath = "C:\\" + std::string(259 - 3 - 1 - 9, 't') + "\\";  // + "setup.exe": 259 characters
       m.AddFolder(m.tempPath);
     },
     "", kRuns},
    // A command line of 32,767 characters or more is refused.
    {"command_line_too_long", nullptr, [](sim::Machine& m) { m.administrator = true; },
     std::string(3300, 'a') + std::string(" ") + std::string(30000, 'b'), launcher::kNotExecutedMessage},
    // The shell starts programs only by their file type; a direct start does
    // not ask.
    {"shell_start_of_a_bin_file", nullptr, [](sim::Machine& m) { m.modulePath = "C:\\Setup\\setup.bin"; }, "",
     launcher::kNotExecutedMessage},
    {"direct_start_of_a_bin_file", nullptr,
     [](sim::Machine& m) {
       m.modulePath = "C:\\Setup\\setup.bin";
       m.administrator = true;
     },
     "", kRuns},
    // 0x7FFFFFFE bytes in one block: more than any free range of a 32-bit
    // process, large-address aware on 64-bit Windows or not.
    {"crc_block_of_2_gib_on_64_bit", nullptr, nullptr, "", "203"},
    {"crc_block_of_2_gib_on_32_bit", nullptr, [](sim::Machine& m) { m.wow64 = false; }, "", "203"},
};

class StrictMachineTest : public ::testing::TestWithParam<StrictCase> {};

TEST_P(StrictMachineTest, EndsAsOnWindows) {
  const StrictCase& c = GetParam();
  PackageInput input = testing_support::GoodInput();
  if (c.input) c.input(input);
  packaging::BuiltPackage package = testing_support::Build(input);
  if (std::string(c.name).rfind("crc_block_of_2_gib", 0) == 0) {
    package.locator.crcLength = 0x7FFFFFFEu;
    packaging::WriteRecords(&package);
  }
  sim::Machine machine;
  machine.memoryLimit = std::size_t(8) << 30;  // only the address space limits
  if (c.machine) c.machine(machine);
  testing_support::PlacePackage(&machine, package.bytes, c.arguments);
  const testing_support::Outcome outcome = testing_support::RunLauncherOn(&machine);
  if (c.box == kRuns) {
    EXPECT_TRUE(outcome.boxes.empty()) << outcome.boxes[0].text;
    EXPECT_EQ(machine.starts.size(), 1u);
  } else if (std::string(c.box) == "203") {
    EXPECT_EQ(outcome.exitCode, 203u);
    EXPECT_GE(machine.largestRequest, std::size_t(0x7FFFFFFE));
  } else {
    ASSERT_EQ(outcome.boxes.size(), 1u);
    EXPECT_EQ(outcome.boxes[0].text, c.box);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, StrictMachineTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<StrictCase>& i) { return std::string(i.param.name); });

// Messages in the ANSI code page as Windows converts them: letters with
// diacritics and fullwidth forms to their best fit, a surrogate pair to two
// default characters.
TEST(StrictMachineTest, MessagesGetWindowsBestFit) {
  struct Conversion {
    uint32_t codePage;
    std::u16string message;
    std::string shown;
  };
  const Conversion conversions[] = {
      {1252, u"\u0141\u00f3d\u017a", "L\xf3" "dz"},
      {1252, u"\u0100\u0150\u0151 \u0152", "AOo \x8c"},
      {1252, u"\uff21\uff22\uff23\uff01", "ABC!"},
      {1252, u"smile \U0001F600.", "smile ??."},
      {1252, u"\u4e2d", "?"},
      {932, u"\u00e9t\u00e9 \uff71", "ete \xb1"},
  };
  for (const Conversion& c : conversions) {
    PackageInput input = testing_support::GoodInput();
    input.program32.reset();
    input.program64 = FakeProgram(20000, 2);
    input.architectureMessage = c.message;
    sim::Machine machine;
    machine.wow64 = false;
    machine.codePage = c.codePage;
    testing_support::PlacePackage(&machine, testing_support::Build(input).bytes);
    const testing_support::Outcome outcome = testing_support::RunLauncherOn(&machine);
    ASSERT_EQ(outcome.boxes.size(), 1u);
    EXPECT_EQ(outcome.boxes[0].text, c.shown);
  }
}

// Before Vista a module path that fills the buffer comes back without its
// terminating zero; the launcher still has 260 characters of it.
TEST(StrictMachineTest, ModulePathThatFillsTheBufferOnOlderSystems) {
  for (const uint32_t major : {5u, 10u}) {
    sim::Machine machine;
    machine.version.dwMajorVersion = major;
    machine.modulePath = "C:\\" + std::string(300, 'a');
    machine.Install();
    EXPECT_EQ(launcher::Argument(0).Length(), 260) << major;
  }
}

}  // namespace

// A fault asked for by a name no operation has would never fire.
TEST(StrictMachineTest, FailCallRefusesAnUnknownOperation) {
  sim::Machine machine;
  EXPECT_THROW(machine.FailCall("ReadFileEx"), std::logic_error);
  EXPECT_NO_THROW(machine.FailCall("ReadFile"));
}
