// One run of a valid package per fault point: every file operation,
// allocation, process start, wait and deletion fails once in turn, and each
// fault point has the one outcome written below: the box (or none), the exit
// code, and whether the temporary copy is left behind.
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "launcher/fatal.h"
#include "tests/helpers/test_packages.h"

namespace {

const std::string kCopy = "C:\\Users\\user\\AppData\\Local\\Temp\\setup.exe";
constexpr int kAny = 0;

struct Expected {
  const char* operation;
  int nth;          // which call of the operation in the run; kAny: every one
  const char* box;  // nullptr: the run completes; "203": the last-resort report
  bool copyStays;   // in a run that waits for the setup program
};

const Expected kExpected[] = {
    // Every block the launcher asks for: the last-resort report, which also
    // deletes a copy that no program was started from.
    {"MemoryAllocate", kAny, "203", false},
    {"MemoryResize", kAny, "203", false},
    // Opening and reading its own file.
    {"CreateFileA", 1, launcher::kDamagedPackageMessage, false},
    {"SetFilePointer", kAny, launcher::kDamagedPackageMessage, false},
    {"ReadFile", kAny, launcher::kDamagedPackageMessage, false},
    // A failed size query reads as 4 GiB - 1 bytes: more than the recorded
    // size, which passes.
    {"GetFileSize", 1, nullptr, false},
    // The search for a free name finds nothing: the name counts as free.
    {"FindFirstFileA", 1, nullptr, false},
    // Creating and writing the copy; a short write deletes it.
    {"CreateFileA", 2, launcher::kTemporaryCopyMessage, false},
    {"WriteFile", 1, launcher::kTemporaryCopyMessage, false},
    // The copy's handle stays open (only possible here), so it cannot be
    // deleted; then the own file's.
    {"CloseHandle", 1, nullptr, true},
    {"CloseHandle", 2, nullptr, false},
    // No program started: the copy stays for the user to run by hand.
    {"CreateProcessA", 1, launcher::kNotExecutedMessage, true},
    {"ShellExecuteExA", 1, launcher::kNotExecutedMessage, true},
    // Not waited for, the program still runs when the deletion comes.
    {"WaitForSingleObject", 1, nullptr, true},
    {"DeleteFileA", 1, nullptr, true},
};

const Expected* ExpectationFor(const std::string& operation, int nth) {
  const Expected* found = nullptr;
  for (const Expected& e : kExpected) {
    if (operation == e.operation && (e.nth == kAny || e.nth == nth)) {
      EXPECT_EQ(found, nullptr) << operation << " #" << nth << " has two expectations";
      found = &e;
    }
  }
  return found;
}

struct Sweep {
  bool detached;
  bool administrator;
};

class FaultSweepTest : public ::testing::TestWithParam<Sweep> {};

TEST_P(FaultSweepTest, EveryFaultPointEndsAsExpected) {
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

  std::map<std::string, int> calls;
  for (int point = 1; point <= points; ++point) {
    sim::Machine machine;
    machine.administrator = GetParam().administrator;
    machine.failFaultPoint = point;
    testing_support::PlacePackage(&machine, package);
    const testing_support::Outcome outcome = testing_support::RunLauncherOn(&machine);
    const std::string operation = machine.log[machine.Find("fault injected")].substr(16);
    const int nth = ++calls[operation];
    const Expected* e = ExpectationFor(operation, nth);
    ASSERT_NE(e, nullptr) << "no expectation for " << operation << " #" << nth;
    SCOPED_TRACE(operation + " #" + std::to_string(nth));
    if (e->box == nullptr) {
      EXPECT_TRUE(outcome.boxes.empty()) << outcome.boxes[0].text;
      EXPECT_EQ(outcome.exitCode, 0u);
    } else {
      ASSERT_EQ(outcome.boxes.size(), 1u);
      if (std::string(e->box) == "203") {
        EXPECT_EQ(outcome.boxes[0].text.rfind("Runtime error 203 at ", 0), 0u) << outcome.boxes[0].text;
        EXPECT_EQ(outcome.exitCode, 203u);
      } else {
        EXPECT_EQ(outcome.boxes[0].text, e->box);
        EXPECT_EQ(outcome.exitCode, 0u);
      }
    }
    // A detached run leaves its copy whenever a program was started.
    const bool started = !machine.starts.empty();
    const bool stays = e->copyStays || (GetParam().detached && started);
    EXPECT_EQ(machine.Exists(kCopy), stays);
  }
  EXPECT_EQ(calls[GetParam().administrator ? "CreateProcessA" : "ShellExecuteExA"], 1);
}

INSTANTIATE_TEST_SUITE_P(Runs, FaultSweepTest,
                         ::testing::Values(Sweep{false, true}, Sweep{false, false}, Sweep{true, true}));

}  // namespace
