// Prints CRC-32 throughput on 256 MiB: the launcher's Crc32 (folding where
// the processor has carry-less multiplication, and the table alone) against
// zlib's crc32 on the same buffer. Figures, not a test.
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "launcher/crc32.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
double BestGigabytesPerSecond(const std::vector<uint8_t>& buffer, F crc, uint32_t* result) {
  double best = 0;
  for (int round = 0; round < 3; ++round) {
    const auto start = Clock::now();
    *result = crc(buffer.data(), buffer.size());
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    best = std::max(best, buffer.size() / s / 1e9);
  }
  return best;
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  launcher::BuildCrcTable();
  std::vector<uint8_t> buffer(size_t(256) << 20);
  uint32_t x = 1;
  for (auto& b : buffer) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  uint32_t ours = 0, table = 0, theirs = 0;
  const double zlibSpeed = BestGigabytesPerSecond(buffer, [](const uint8_t* p, size_t n) {
    return static_cast<uint32_t>(crc32(0, p, static_cast<uInt>(n)));
  }, &theirs);
  const double oursSpeed = BestGigabytesPerSecond(buffer, [](const uint8_t* p, size_t n) {
    return launcher::Crc32(p, n);
  }, &ours);
  const bool folding = launcher::CrcFoldingForTesting(false);
  const double tableSpeed = BestGigabytesPerSecond(buffer, [](const uint8_t* p, size_t n) {
    return launcher::Crc32(p, n);
  }, &table);
  launcher::CrcFoldingForTesting(folding);
  std::printf("CRC-32 over 256 MiB (host)\n");
  std::printf("  launcher Crc32:  %.2f GB/s (%s)\n", oursSpeed, folding ? "carry-less multiplication" : "table");
  std::printf("  table alone:     %.2f GB/s\n", tableSpeed);
  std::printf("  zlib crc32:      %.2f GB/s\n", zlibSpeed);
  std::printf("  goal at least as fast as zlib: %s; results %s\n", oursSpeed >= zlibSpeed ? "met" : "MISSED",
              ours == theirs && table == theirs ? "agree" : "DIFFER");
  return ours == theirs && table == theirs ? 0 : 1;
}
