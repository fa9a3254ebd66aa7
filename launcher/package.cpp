#include "launcher/package.h"

#include "launcher/crc32.h"
#include "launcher/fatal.h"
#include "launcher/file_handle.h"
#include "support/memory.h"

namespace launcher {

void ValidatePackage(platform::Handle ownFile, PackageLocator* locator, PackageHeader* header) {
  uint8_t locatorBytes[kLocatorSize];
  if (!ReadAt(ownFile, kLocatorOffset, locatorBytes, kLocatorSize)) FatalDamagedPackage();
  *locator = DecodeLocator(locatorBytes);
  if (locator->headerOffset == 0) FatalDamagedPackage();

  uint32_t high = 0;
  const uint32_t low = platform::GetFileSize(ownFile, &high);
  const uint64_t actual = uint64_t(high) << 32 | low;
  if (locator->detachedSize != 0) {
    if (locator->detachedSize > low) FatalTruncatedPackage();
  } else if (static_cast<int64_t>(TotalSize(*locator)) > static_cast<int64_t>(actual)) {
    FatalTruncatedPackage();
  }

  uint8_t* region = static_cast<uint8_t*>(support::AllocateMemory(locator->crcLength));
  if (!ReadAt(ownFile, locator->headerOffset, region, locator->crcLength)) FatalDamagedPackage();
  if (Crc32(region, locator->crcLength) != locator->crcValue) FatalDamagedPackage();
  support::ReleaseMemory(region);

  uint8_t headerBytes[kHeaderSize];
  if (!ReadAt(ownFile, locator->headerOffset, headerBytes, kHeaderSize)) FatalDamagedPackage();
  *header = DecodeHeader(headerBytes);
}

}  // namespace launcher
