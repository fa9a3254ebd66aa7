// Whole runs of the launcher on the simulated machine, from the program entry
// to the end of the process, for packages that are whole and for every way
// the validation refuses one.
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "launcher/fatal.h"
#include "tests/helpers/test_packages.h"

namespace {

using packaging::BuiltPackage;
using testing_support::Build;
using testing_support::GoodInput;
using testing_support::GoodPackage;
using testing_support::Outcome;
using testing_support::RunPackage;

enum class Expect { kPasses, kDamaged, kTruncated };

struct Case {
  const char* name;
  std::function<packaging::Bytes()> make;
  Expect expect;
};

packaging::Bytes Changed(std::function<void(BuiltPackage&)> change) {
  BuiltPackage p = GoodPackage();
  change(p);
  return p.bytes;
}

// Rewrites the locator (and keeps the CRC valid unless told otherwise).
packaging::Bytes WithLocator(std::function<void(launcher::PackageLocator&)> change, bool fixCrc) {
  return Changed([&](BuiltPackage& p) {
    change(p.locator);
    packaging::WriteRecords(&p);
    if (fixCrc) packaging::UpdateCrc(&p);
  });
}

const Case kCases[] = {
    {"whole package", [] { return GoodPackage().bytes; }, Expect::kPasses},
    {"extra bytes after the recorded end",
     [] { return Changed([](BuiltPackage& p) { p.bytes.resize(p.bytes.size() + 5000, 1); }); },
     Expect::kPasses},
    {"image without a package (locator all zero)",
     [] { return testing_support::FakeImage(); }, Expect::kDamaged},
    {"file too short for the locator",
     [] { return packaging::Bytes{'M', 'Z', 0, 0}; }, Expect::kDamaged},
    {"file ends inside the locator",
     [] { return Changed([](BuiltPackage& p) { p.bytes.resize(140); }); }, Expect::kDamaged},
    {"one byte short of the total size",
     [] { return Changed([](BuiltPackage& p) { p.bytes.pop_back(); }); }, Expect::kTruncated},
    // The read comes up short: whatever the CRC of what was read, and with a
    // recorded CRC of 0 (the sum of nothing read), the package is damaged.
    {"CRC region one byte past the end, CRC 0",
     [] {
       return Changed([](BuiltPackage& p) {
         p.locator.crcLength = uint32_t(p.bytes.size() - p.locator.headerOffset + 1);
         p.locator.crcValue = 0;
         packaging::WriteRecords(&p);
       });
     },
     Expect::kDamaged},
    {"total size in the high part",
     [] { return WithLocator([](launcher::PackageLocator& l) { l.totalSizeHigh = 1; }, true); },
     Expect::kTruncated},
    {"total size negative as a signed 64-bit number passes",
     [] { return WithLocator([](launcher::PackageLocator& l) { l.totalSizeHigh = 0x80000000u; }, true); },
     Expect::kPasses},
    {"detached size equal to the file size",
     [] {
       return WithLocator([](launcher::PackageLocator& l) {
         l.detachedSize = l.totalSizeLow;
         l.totalSizeLow += 100;  // not consulted when detached
       }, true);
     },
     Expect::kPasses},
    {"detached size one more than the file size",
     [] { return WithLocator([](launcher::PackageLocator& l) { l.detachedSize = l.totalSizeLow + 1; }, true); },
     Expect::kTruncated},
    {"too short and corrupt: the size check comes first",
     [] {
       return Changed([](BuiltPackage& p) {
         p.bytes[p.locator.headerOffset + 70] ^= 0xFF;
         p.bytes.pop_back();
       });
     },
     Expect::kTruncated},
    {"CRC region runs past the end of the file",
     [] { return WithLocator([](launcher::PackageLocator& l) { l.crcLength += 1000000; }, false); },
     Expect::kDamaged},
    {"CRC length 0 with CRC value 0",
     [] {
       return WithLocator([](launcher::PackageLocator& l) { l.crcLength = 0; l.crcValue = 0; }, false);
     },
     Expect::kPasses},
    {"CRC length 0 with a nonzero CRC value",
     [] {
       return WithLocator([](launcher::PackageLocator& l) { l.crcLength = 0; l.crcValue = 1; }, false);
     },
     Expect::kDamaged},
    {"one changed byte in the header",
     [] { return Changed([](BuiltPackage& p) { p.bytes[p.locator.headerOffset + 13] ^= 1; }); },
     Expect::kDamaged},
    {"one changed byte in the payload",
     [] { return Changed([](BuiltPackage& p) { p.bytes[p.header.payload32.offset + 100] ^= 0x10; }); },
     Expect::kDamaged},
    {"one changed byte as the last byte of the CRC region",
     [] {
       return Changed([](BuiltPackage& p) { p.bytes[p.locator.headerOffset + p.locator.crcLength - 1] ^= 0x80; });
     },
     Expect::kDamaged},
    {"changed setup data beyond the CRC region is not noticed",
     [] { return Changed([](BuiltPackage& p) { p.bytes[p.setupDataOffset + 10] ^= 0xFF; }); },
     Expect::kPasses},
    {"changed CRC value",
     [] { return WithLocator([](launcher::PackageLocator& l) { l.crcValue ^= 1; }, false); },
     Expect::kDamaged},
    {"header less than 66 bytes before the end of the file",
     [] {
       return Changed([](BuiltPackage& p) {
         const uint32_t start = static_cast<uint32_t>(p.bytes.size()) - 30;
         p.locator.headerOffset = start;
         p.locator.crcLength = 30;
         packaging::UpdateCrc(&p);
       });
     },
     Expect::kDamaged},
    {"header offset at 2^31",
     [] {
       return WithLocator([](launcher::PackageLocator& l) { l.headerOffset = 0x80000000u; l.crcLength = 0; l.crcValue = 0; }, false);
     },
     Expect::kDamaged},
    {"header offset past the end of the file",
     [] {
       return WithLocator([](launcher::PackageLocator& l) { l.headerOffset = 0x7FFFFF00u; l.crcLength = 0; l.crcValue = 0; }, false);
     },
     Expect::kDamaged},
};

class ValidationTest : public ::testing::TestWithParam<Case> {};

TEST_P(ValidationTest, EndsAsExpected) {
  const Case& c = GetParam();
  const Outcome outcome = RunPackage(c.make());
  EXPECT_EQ(outcome.exitCode, 0u);
  if (c.expect == Expect::kPasses) {
    EXPECT_TRUE(outcome.boxes.empty()) << outcome.boxes[0].text;
    return;
  }
  ASSERT_EQ(outcome.boxes.size(), 1u);
  EXPECT_EQ(outcome.boxes[0].text, c.expect == Expect::kDamaged ? launcher::kDamagedPackageMessage
                                                                : launcher::kTruncatedPackageMessage);
  EXPECT_EQ(outcome.boxes[0].caption, "C:\\Setup\\setup.exe");
  EXPECT_EQ(outcome.boxes[0].type, 0x10u);
}

INSTANTIATE_TEST_SUITE_P(Packages, ValidationTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p; ++p) {
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           }
                           return name;
                         });

// Faults of the machine itself during validation.
struct FaultCase {
  const char* operation;
  int nth;
};

class ValidationFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ValidationFaultTest, ShowsTheDamagedPackageMessage) {
  sim::Machine machine;
  testing_support::PlacePackage(&machine, GoodPackage().bytes);
  machine.FailCall(GetParam().operation, GetParam().nth);
  const Outcome outcome = testing_support::RunLauncherOn(&machine);
  ASSERT_EQ(outcome.boxes.size(), 1u);
  EXPECT_EQ(outcome.boxes[0].text, launcher::kDamagedPackageMessage);
  EXPECT_EQ(outcome.exitCode, 0u);
}

INSTANTIATE_TEST_SUITE_P(Faults, ValidationFaultTest,
                         ::testing::Values(FaultCase{"CreateFileA", 1}, FaultCase{"ReadFile", 1},
                                           FaultCase{"ReadFile", 2}, FaultCase{"ReadFile", 3},
                                           FaultCase{"SetFilePointer", 1}, FaultCase{"SetFilePointer", 3}));

TEST(ValidationSequenceTest, OpensOwnFileForReadingWithTheStatedFlags) {
  sim::Machine machine;
  testing_support::PlacePackage(&machine, GoodPackage().bytes);
  testing_support::RunLauncherOn(&machine);
  const int open = machine.Find("CreateFileA");
  ASSERT_GE(open, 0);
  EXPECT_EQ(machine.log[open],
            "CreateFileA C:\\Setup\\setup.exe access=0x80000000 share=1 disposition=3 flags=0x0");
  EXPECT_EQ(machine.openHandles(), 0) << "the own file is closed at the end of the run";
  EXPECT_EQ(machine.memoryInUse, 0u) << "the CRC block is released";
}

TEST(ValidationSequenceTest, CrcRegionMemoryCannotHoldEndsWithReport203) {
  sim::Machine machine;
  machine.memoryLimit = 64u << 20;
  BuiltPackage p = GoodPackage();
  p.locator.crcLength = 0x7FFFFFF0u;
  packaging::WriteRecords(&p);
  testing_support::PlacePackage(&machine, p.bytes);
  const Outcome outcome = testing_support::RunLauncherOn(&machine);
  EXPECT_EQ(outcome.exitCode, 203u);
  ASSERT_EQ(outcome.boxes.size(), 1u);
  EXPECT_EQ(outcome.boxes[0].caption, "Error");
  EXPECT_EQ(outcome.boxes[0].type, 0u);
  EXPECT_EQ(outcome.boxes[0].text.substr(0, 21), "Runtime error 203 at ");
  EXPECT_EQ(outcome.boxes[0].text.size(), 29u);
}

// "/silent" and "/s" suppress nothing.
TEST(ValidationSequenceTest, SilentSwitchesDoNotSuppressTheBox) {
  for (const char* args : {"/silent", "/s", "/S /SILENT"}) {
    const Outcome outcome = RunPackage(testing_support::FakeImage(), args);
    ASSERT_EQ(outcome.boxes.size(), 1u) << args;
    EXPECT_EQ(outcome.boxes[0].text, launcher::kDamagedPackageMessage);
  }
}

}  // namespace
