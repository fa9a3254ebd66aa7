#include "launcher/package.h"

#include "launcher/fatal.h"
#include "launcher/memory.h"

namespace launcher {

namespace {
uint32_t crcTable[256];
}

void BuildCrcTable() {
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t v = i;
    for (int k = 0; k < 8; ++k) v = (v & 1) ? (v >> 1) ^ 0xEDB88320u : v >> 1;
    crcTable[i] = v;
  }
}

uint32_t Crc32Update(uint32_t crc, const void* data, std::size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint32_t c = crc ^ 0xFFFFFFFFu;
  for (std::size_t i = 0; i < length; ++i) c = crcTable[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

uint32_t Crc32(const void* data, std::size_t length) { return Crc32Update(0, data, length); }

bool ReadAt(platform::Handle file, uint32_t offset, void* buffer, uint32_t count) {
  // A position the signed seek cannot reach must not leave the read at the
  // previous position, where it would take the wrong bytes.
  if (offset >= kLimit) return false;
  if (platform::SetFilePointer(file, static_cast<int32_t>(offset), platform::kFileBegin) != offset) {
    return false;
  }
  uint32_t read = 0;
  platform::ReadFile(file, buffer, count, &read);
  return read == count;
}

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

  uint8_t* region = static_cast<uint8_t*>(AllocateMemory(locator->crcLength));
  if (!ReadAt(ownFile, locator->headerOffset, region, locator->crcLength)) FatalDamagedPackage();
  if (Crc32(region, locator->crcLength) != locator->crcValue) FatalDamagedPackage();
  ReleaseMemory(region);

  uint8_t headerBytes[kHeaderSize];
  if (!ReadAt(ownFile, locator->headerOffset, headerBytes, kHeaderSize)) FatalDamagedPackage();
  *header = DecodeHeader(headerBytes);
}

}  // namespace launcher
