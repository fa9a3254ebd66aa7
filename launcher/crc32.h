// CRC-32 of IEEE 802.3, as zlib computes it: by carry-less multiplication
// where the processor has it, by table otherwise.
#ifndef LAUNCHER_CRC32_H_
#define LAUNCHER_CRC32_H_

#include <cstddef>
#include <cstdint>

namespace launcher {

// Fills the CRC table; runs once at start-up, before any Crc32.
void BuildCrcTable();
// CRC-32 of IEEE 802.3 (zlib's crc32); 0 for an empty buffer.
uint32_t Crc32(const void* data, std::size_t length);
// Continues a CRC over more bytes: Crc32Update(Crc32(a), b) == Crc32(a + b).
uint32_t Crc32Update(uint32_t crc, const void* data, std::size_t length);
// The CRC of a + b from the CRCs of a and b and b's length, without b's
// bytes: Crc32Combine(Crc32(a), Crc32(b), size of b) == Crc32(a + b).
uint32_t Crc32Combine(uint32_t crcA, uint32_t crcB, std::uint64_t lengthB);
// Turns carry-less folding off (false) or back on where the processor has it;
// returns whether it was in use. For tests and benchmarks of the table path.
bool CrcFoldingForTesting(bool enabled);

}  // namespace launcher

#endif  // LAUNCHER_CRC32_H_
