// One run of a valid package per fault point: every file operation,
// allocation, process start, wait and deletion fails once in turn. Each run
// must end in a fatal exit the launcher knows, or in runtime error 203, or
// complete (faults the launcher does not check), and must leave no temporary
// copy behind except where one is meant to stay.
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "launcher/fatal.h"
#include "tests/support/test_packages.h"

namespace {

const std::string kCopy = "C:\\Users\\user\\AppData\\Local\\Temp\\setup.exe";

struct Sweep {
  bool detached;
  bool administrator;
};

class FaultSweepTest : public ::testing::TestWithParam<Sweep> {};

TEST_P(FaultSweepTest, EveryFaultPointEndsCleanly) {
  packaging::PackageInput input = testing_support::GoodInput();
  input.detached = GetParam().detached;
  const packaging::Bytes package = testing_support::Build(input).bytes;

  // A run without faults counts the fault points.
  sim::Machine clean;
  clean.administrator = GetParam().administrator;
  testing_support::PlacePackage(&clean, package);
  ASSERT_EQ(testing_support::RunLauncherOn(&clean).exitCode, 0u);
  const int points = clean.faultPointsSeen;
  ASSERT_GT(points, 10);

  const std::set<std::string> fatal = {launcher::kDamagedPackageMessage, launcher::kTemporaryCopyMessage,
                                       launcher::kNotExecutedMessage};
  std::set<std::string> seen;
  for (int point = 1; point <= points; ++point) {
    sim::Machine machine;
    machine.administrator = GetParam().administrator;
    machine.failFaultPoint = point;
    testing_support::PlacePackage(&machine, package);
    const testing_support::Outcome outcome = testing_support::RunLauncherOn(&machine);
    const std::string fault = machine.log[machine.Find("fault injected")];
    bool copyMayStay = GetParam().detached;
    if (outcome.boxes.empty()) {
      EXPECT_EQ(outcome.exitCode, 0u) << fault;
      seen.insert("(completed)");
      // An unchecked failure: the deletion itself fails.
      copyMayStay = copyMayStay || fault == "fault injected: DeleteFileA";
    } else {
      ASSERT_EQ(outcome.boxes.size(), 1u) << fault;
      const std::string& text = outcome.boxes[0].text;
      if (text.rfind("Runtime error 203 at ", 0) == 0) {
        EXPECT_EQ(outcome.exitCode, 203u) << fault;
        seen.insert("203");
      } else {
        EXPECT_TRUE(fatal.count(text)) << fault << ": " << text;
        EXPECT_EQ(outcome.exitCode, 0u) << fault;
        seen.insert(text.substr(0, 30));
        copyMayStay = copyMayStay || text == launcher::kNotExecutedMessage;
      }
    }
    // A failed close leaves the copy's handle open on the simulated machine,
    // so its deletion fails; real handles do not fail to close.
    copyMayStay = copyMayStay || fault == "fault injected: CloseHandle";
    if (!copyMayStay) {
      EXPECT_FALSE(machine.Exists(kCopy)) << "copy left behind after " << fault;
    }
  }
  EXPECT_TRUE(seen.count("203"));
  EXPECT_TRUE(seen.count(std::string(launcher::kDamagedPackageMessage).substr(0, 30)));
  EXPECT_TRUE(seen.count(std::string(launcher::kTemporaryCopyMessage).substr(0, 30)));
  EXPECT_TRUE(seen.count(std::string(launcher::kNotExecutedMessage).substr(0, 30)));
}

INSTANTIATE_TEST_SUITE_P(Runs, FaultSweepTest,
                         ::testing::Values(Sweep{false, true}, Sweep{false, false}, Sweep{true, true}));

}  // namespace
