// Reading and checking the package: CRC-32 and the validation step.
#ifndef LAUNCHER_PACKAGE_H_
#define LAUNCHER_PACKAGE_H_

#include <cstddef>
#include <cstdint>

#include "launcher/package_format.h"
#include "platform/platform.h"

namespace launcher {

// Fills the CRC table; runs once at start-up, before any Crc32.
void BuildCrcTable();
// CRC-32 of IEEE 802.3 (zlib's crc32); 0 for an empty buffer.
uint32_t Crc32(const void* data, std::size_t length);
// Continues a CRC over more bytes: Crc32Update(Crc32(a), b) == Crc32(a + b).
uint32_t Crc32Update(uint32_t crc, const void* data, std::size_t length);
// Turns carry-less folding off (false) or back on where the processor has it;
// returns whether it was in use. For tests and benchmarks of the table path.
bool CrcFoldingForTesting(bool enabled);

// Positions `file` at `offset` and reads exactly `count` bytes. False when the
// position cannot be reached (offsets at or past 2^31 among them) or fewer
// bytes could be read.
bool ReadAt(platform::Handle file, uint32_t offset, void* buffer, uint32_t count);

// Reads the locator, checks the file size and the CRC-32 and reads the
// header, in that order. Returns only when all of it passed; otherwise ends
// in the damaged-package or truncated-package message.
void ValidatePackage(platform::Handle ownFile, PackageLocator* locator, PackageHeader* header);

}  // namespace launcher

#endif  // LAUNCHER_PACKAGE_H_
