// The validation step: locator, file size, CRC-32 and header.
#include "launcher/package.h"

#include "launcher/crc32.h"
#include "launcher/fatal.h"
#include "launcher/file_handle.h"
#include "support/memory.h"

namespace launcher {

bool ReadRegionCrc(void*, platform::Handle ownFile, uint32_t offset, uint8_t* region, uint32_t length,
                   uint32_t* crc) {
  if (!ReadAt(ownFile, offset, region, length)) return false;
  *crc = Crc32(region, length);
  return true;
}

void ValidatePackage(platform::Handle ownFile, PackageLocator* locator, PackageHeader* header,
                     RegionCrcStep regionCrc, void* context) {
  uint8_t locatorBytes[kLocatorSize];
  if (!ReadAt(ownFile, kLocatorOffset, locatorBytes, kLocatorSize)) FatalDamagedPackage();
  *locator = DecodeLocator(locatorBytes);
  if (locator->headerOffset == 0) FatalDamagedPackage();

  uint32_t high = 0;
  const uint32_t low = platform::GetFileSize(ownFile, &high);
  const uint64_t actual = uint64_t(high) << 32 | low;
  if (IsTruncated(*locator, actual)) FatalTruncatedPackage();

  uint8_t* region = static_cast<uint8_t*>(support::AllocateMemory(locator->crcLength));
  uint32_t crc = 0;
  const RegionCrcStep step = regionCrc != nullptr ? regionCrc : &ReadRegionCrc;
  if (!step(context, ownFile, locator->headerOffset, region, locator->crcLength, &crc) || crc != locator->crcValue) {
    FatalDamagedPackage();
  }
  support::ReleaseMemory(region);

  uint8_t headerBytes[kHeaderSize];
  if (!ReadAt(ownFile, locator->headerOffset, headerBytes, kHeaderSize)) FatalDamagedPackage();
  *header = DecodeHeader(headerBytes);
}

}  // namespace launcher
