// The real launcher under Wine: validation and the fatal exits it leads to.
#include <gtest/gtest.h>

#include "launcher/fatal.h"
#include "tests/e2e/wine_harness.h"

namespace {

using e2e::Result;

WINE_CASE(no_package) { c.package = e2e::LauncherImage(); }
WINE_CASE(no_package_32bit_windows) {
  c.package = e2e::LauncherImage();
  c.prefix = "win32";
}
WINE_CASE(whole_package) { c.package = e2e::BuildOrDie(e2e::SamplePackageInput()); }
WINE_CASE(one_byte_short) {
  c.package = e2e::BuildOrDie(e2e::SamplePackageInput());
  c.package.pop_back();
}
WINE_CASE(changed_payload_byte) {
  packaging::BuiltPackage p;
  std::string error;
  packaging::BuildPackage(e2e::SamplePackageInput(), &p, &error);
  p.bytes[p.header.payload32.offset + 50] ^= 0x01;
  c.package = p.bytes;
}

void ExpectOneBox(const e2e::WineCase& r, const char* message) {
  EXPECT_EQ(r.exitCode, 0);
  ASSERT_EQ(r.boxes.size(), 1u) << r.trace.substr(0, 2000);
  EXPECT_TRUE(e2e::ShownAs(r.boxes[0].text, message)) << r.boxes[0].text;
  EXPECT_EQ(r.boxes[0].caption, r.windowsFolder + "\\setup.exe");
  EXPECT_EQ(r.boxes[0].flags, 0x10u);
}

TEST(WineValidation, ImageWithoutPackageShowsTheDamagedPackageMessage) {
  ExpectOneBox(Result("no_package"), launcher::kDamagedPackageMessage);
  ExpectOneBox(Result("no_package_32bit_windows"), launcher::kDamagedPackageMessage);
}

TEST(WineValidation, PackageOneByteShortShowsTheTruncatedPackageMessage) {
  ExpectOneBox(Result("one_byte_short"), launcher::kTruncatedPackageMessage);
}

TEST(WineValidation, ChangedPayloadByteShowsTheDamagedPackageMessage) {
  ExpectOneBox(Result("changed_payload_byte"), launcher::kDamagedPackageMessage);
}

TEST(WineValidation, WholePackageEndsWithExitCodeZero) {
  const e2e::WineCase& r = Result("whole_package");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.boxes.empty()) << r.boxes[0].text;
}

}  // namespace
