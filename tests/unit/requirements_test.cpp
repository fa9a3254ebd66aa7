#include <gtest/gtest.h>

#include "launcher/requirements.h"
#include "platform/sim/sim_machine.h"
#include "tools/packaging/windows_releases.h"

namespace {

struct Row {
  uint32_t platformId, major, minor;
  const char* name;
  int bit;
};

const Row kRows[] = {
    {2, 4, 0, "Windows NT 4", 3},      {2, 4, 10, "Windows NT 4", 3},
    {1, 4, 0, "Windows 95", 0},        {1, 4, 3, "Windows 95", 0},
    {1, 4, 10, "Windows 98", 1},       {1, 4, 4, "Windows ME", 2},
    {1, 4, 90, "Windows ME", 2},       {0, 4, 11, "Windows ME", 2},
    {2, 5, 0, "Windows 2000", 4},      {1, 5, 0, "Windows 2000", 4},
    {2, 5, 1, "Windows XP", 5},        {2, 5, 2, "Windows XP", 5},
    {2, 6, 0, "Windows Vista", 6},     {2, 6, 1, "Windows 7", 7},
    {2, 6, 2, "Windows 8", 8},         {2, 6, 3, "Windows 8.1", 9},
    {2, 6, 4, "Windows 6.4", -1},      {2, 6, 12, "Windows 6.12", -1},
    {2, 10, 0, "Windows 10", 10},      {2, 10, 1, "Windows 10.1", 63},
    {2, 10, 12, "Windows 10.12", 63},  {2, 7, 0, "Windows 07.0", 63},
    {2, 11, 0, "Windows 11.0", 63},    {2, 3, 51, "Windows 03.51", 63},
    {2, 0, 0, "Windows 00.0", 63},     {2, 123, 4, "Windows 123.4", 63},
};

TEST(VersionTableTest, EveryRowHasItsNameAndBit) {
  sim::Machine machine;
  machine.Install();
  for (const Row& r : kRows) {
    const launcher::VersionRow row = launcher::FindVersionRow(r.platformId, r.major, r.minor);
    EXPECT_STREQ(row.name.Chars(), r.name) << r.major << "." << r.minor;
    EXPECT_EQ(row.governingBit, r.bit) << r.name;
  }
}

// The releases the simulated machine plays carry the launcher's bit for
// their version, so that their names are the names the launcher gives.
TEST(VersionTableTest, EveryReleaseHasTheLaunchersBit) {
  sim::Machine machine;
  machine.Install();
  for (const packaging::WindowsRelease& r : packaging::kWindowsReleases) {
    const launcher::VersionRow row = launcher::FindVersionRow(r.platformId, r.major, r.minor);
    EXPECT_EQ(row.governingBit, r.bit) << packaging::ReleaseName(r);
    if (r.bit < 0) {
      EXPECT_EQ(packaging::ReleaseName(r), row.name.Chars());
    }
  }
}

}  // namespace
