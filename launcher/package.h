// Checking the package: the validation step.
#ifndef LAUNCHER_PACKAGE_H_
#define LAUNCHER_PACKAGE_H_

#include <cstdint>

#include "launcher/tool_steps.h"
#include "launcher/package_format.h"
#include "platform/platform.h"

namespace launcher {

// Reads the CRC region (`length` bytes at `offset` of the own file) into
// `region`, a block of that size, and gives its CRC-32 in *crc; false when
// it cannot be read. The launcher's own step; tools may hand in another
// (RegionCrcStep), which gets their `context`.
bool ReadRegionCrc(void* unused, platform::Handle ownFile, uint32_t offset, uint8_t* region, uint32_t length,
                   uint32_t* crc);

// Reads the locator, checks the file size and the CRC-32 and reads the
// header, in that order. Returns only when all of it passed; otherwise ends
// in the damaged-package or truncated-package message. The CRC region is
// read with `regionCrc` (null: ReadRegionCrc), given `context`.
void ValidatePackage(platform::Handle ownFile, PackageLocator* locator, PackageHeader* header,
                     RegionCrcStep regionCrc = nullptr, void* context = nullptr);

}  // namespace launcher

#endif  // LAUNCHER_PACKAGE_H_
