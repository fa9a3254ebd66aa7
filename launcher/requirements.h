// The package's requirements against the machine: which payload fits the
// processor architecture, and whether the Windows version is allowed.
#ifndef LAUNCHER_REQUIREMENTS_H_
#define LAUNCHER_REQUIREMENTS_H_

#include <cstdint>

#include "launcher/package_format.h"
#include "launcher/text.h"
#include "platform/platform.h"

namespace launcher {

// From the run's one version query; all zero when the query failed.
struct VersionInformation {
  uint32_t platformId;
  uint32_t majorVersion;
  uint32_t minorVersion;
};

// True when this 32-bit process runs under WOW64 (on 64-bit Windows). Asks
// afresh each time; a missing or failing IsWow64Process means false.
bool Is64BitWindows();

// The payload entry to decode. Does not return when the machine's
// architecture does not suit the package (the architecture message).
PayloadEntry ChoosePayload(const PackageHeader& header, platform::Handle ownFile);

// Queries the version and refuses versions the package does not allow (the
// version message with the version's name). A failed query passes.
VersionInformation CheckWindowsVersion(const PackageHeader& header, platform::Handle ownFile);

// Refuses Windows 2000 below Service Pack 4.
void CheckWindows2000ServicePack(const PackageHeader& header, platform::Handle ownFile);

// The row of the version table (kVersionRows) for a version: its name, the
// bit of the allowed-version set that governs it (-1: always refused), and
// whether its service pack is checked too.
struct VersionRow {
  Text name;
  int governingBit;
  bool servicePackChecked = false;
};
VersionRow FindVersionRow(uint32_t platformId, uint32_t major, uint32_t minor);

}  // namespace launcher

#endif  // LAUNCHER_REQUIREMENTS_H_
