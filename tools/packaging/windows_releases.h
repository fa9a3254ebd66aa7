// The Windows releases that the simulated machine plays: what each reports
// to the launcher (platform id, version, service pack) and what it has
// (a 64-bit edition, IsWow64Process, DOS programs in its 32-bit edition).
// verify's rows, the fuzz target and the tests put a machine on a release
// from this one table; its names come from the launcher's version table.
#ifndef TOOLS_PACKAGING_WINDOWS_RELEASES_H_
#define TOOLS_PACKAGING_WINDOWS_RELEASES_H_

#include <cstdint>
#include <string>

#include "launcher/package_format.h"
#include "platform/sim/sim_machine.h"

namespace packaging {

struct WindowsRelease {
  int bit;             // the launcher's bit for the version (-1: none, always refused)
  const char* suffix;  // after the bit's name ("Windows 2000" + " SP3"); with no bit, the name
  uint32_t platformId, major, minor;
  uint16_t servicePack;
  bool has64Bit;           // whether a 64-bit edition exists
  bool hasIsWow64Process;  // kernel32 exports it (XP SP2 and later)
  bool dosPrograms;        // the 32-bit edition starts an MZ file without a PE header
};

constexpr uint32_t kPlatform9x = 1, kPlatformNt = 2;

inline constexpr WindowsRelease kWindowsReleases[] = {
    {launcher::kBitWindows95, "", kPlatform9x, 4, 0, 0, false, false, true},
    {launcher::kBitWindows98, "", kPlatform9x, 4, 10, 0, false, false, true},
    {launcher::kBitWindowsMe, "", kPlatform9x, 4, 90, 0, false, false, true},
    {launcher::kBitWindowsNt4, "", kPlatformNt, 4, 0, 6, false, false, true},
    {launcher::kBitWindows2000, " SP3", kPlatformNt, 5, 0, 3, false, false, true},
    {launcher::kBitWindows2000, " SP4", kPlatformNt, 5, 0, 4, false, false, true},
    {launcher::kBitWindowsXp, "", kPlatformNt, 5, 1, 3, false, true, true},
    {launcher::kBitWindowsXp, " x64 (5.2)", kPlatformNt, 5, 2, 2, true, true, true},
    {launcher::kBitWindowsVista, "", kPlatformNt, 6, 0, 2, true, true, true},
    {launcher::kBitWindows7, "", kPlatformNt, 6, 1, 1, true, true, true},
    {launcher::kBitWindows8, "", kPlatformNt, 6, 2, 0, true, true, false},
    {launcher::kBitWindows81, "", kPlatformNt, 6, 3, 0, true, true, false},
    {-1, "Windows 6.4", kPlatformNt, 6, 4, 0, true, true, false},
    {launcher::kBitWindows10, " and 11", kPlatformNt, 10, 0, 0, true, true, false},
    {launcher::kVersionBitLater, " (11.0)", kPlatformNt, 11, 0, 0, true, true, false},
};

// "Windows XP", "Windows 2000 SP3", "later (11.0)", "Windows 6.4": the
// version table's name for the release's bit followed by its suffix.
std::string ReleaseName(const WindowsRelease& release);

// The release that reports this version (the first of several); nullptr
// when the table has none.
const WindowsRelease* FindRelease(uint32_t platformId, uint32_t major, uint32_t minor);

// Puts the machine on the release, its 64-bit edition or its 32-bit one.
void PutOnRelease(const WindowsRelease& release, bool is64, sim::Machine* machine);

}  // namespace packaging

#endif  // TOOLS_PACKAGING_WINDOWS_RELEASES_H_
