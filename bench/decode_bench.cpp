// Prints decoding figures: time per MiB at 16 and 256 MiB of output, the
// launcher's DecodePayload against liblzma decoding the same stream into one
// preallocated buffer (64 MiB), and peak memory against
// compressed + uncompressed + dictionary + 4 MiB. Figures, not a test.
#include <lzma.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "launcher/crc32.h"
#include "launcher/package.h"
#include "launcher/payload.h"
#include "platform/sim/sim_machine.h"
#include "tests/helpers/test_packages.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kMiB = 1u << 20;
constexpr uint32_t kDictionary = 4 * kMiB;

struct Prepared {
  packaging::BuiltPackage package;
  uint32_t size;
};

Prepared Prepare(uint32_t mib) {
  packaging::PackageInput input = testing_support::GoodInput();
  input.program32 = testing_support::FakeProgram(mib * kMiB, mib);
  input.lzma.preset = 1;
  input.lzma.dictionarySize = kDictionary;
  input.setupData.clear();
  return Prepared{testing_support::Build(input), mib * kMiB};
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// The launcher's step on the simulated machine: seconds and peak memory.
double DecodeWithLauncher(const Prepared& p, size_t* peak) {
  sim::Machine machine;
  machine.memoryLimit = size_t(3) << 30;
  machine.AddFile(machine.modulePath, p.package.bytes);
  machine.Install();
  platform::Handle own = platform::CreateFileA(machine.modulePath.c_str(), platform::kGenericRead,
                                               platform::kFileShareRead, platform::kOpenExisting, 0);
  const auto start = Clock::now();
  {
    support::TStream compressed, decompressed;
    launcher::DecodePayload(own, p.package.header.payload32, p.package.header, &compressed, &decompressed);
  }
  const double s = Seconds(start);
  *peak = machine.memoryPeak;
  return s;
}

double DecodeWithLiblzma(const Prepared& p) {
  const launcher::PayloadEntry& e = p.package.header.payload32;
  // The block is obtained inside the timing and left untouched, as the
  // launcher's is: page faults count on both sides.
  const auto start = Clock::now();
  std::unique_ptr<uint8_t[]> out(new uint8_t[e.uncompressedSize]);
  lzma_options_lzma options{};
  options.lc = 3;
  options.lp = 0;
  options.pb = 2;
  options.dict_size = kDictionary;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream s = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&s, filters) != LZMA_OK) return -1;
  s.next_in = p.package.bytes.data() + e.offset;
  s.avail_in = e.compressedSize;
  s.next_out = out.get();
  s.avail_out = e.uncompressedSize;
  while (s.avail_out > 0 && lzma_code(&s, LZMA_RUN) == LZMA_OK) {
  }
  lzma_end(&s);
  return Seconds(start);
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  launcher::BuildCrcTable();
  std::printf("decoding benchmark (host, simulated machine; LZMA preset 1, 4 MiB dictionary)\n");
  double perMiB[2] = {0, 0};
  const uint32_t sizes[2] = {16, 256};
  for (int i = 0; i < 2; ++i) {
    const Prepared p = Prepare(sizes[i]);
    size_t peak = 0;
    const double s = DecodeWithLauncher(p, &peak);
    const double direct = DecodeWithLiblzma(p);
    perMiB[i] = s * 1000.0 / sizes[i];
    const size_t bound = p.package.header.payload32.compressedSize + size_t(p.size) + kDictionary + 4 * kMiB;
    std::printf("  %3u MiB: %.2f ms/MiB (liblzma alone %.2f ms/MiB); peak memory %.1f MiB, goal at most %.1f MiB (%s)\n",
                sizes[i], perMiB[i], direct * 1000.0 / sizes[i], peak / double(kMiB), bound / double(kMiB),
                peak <= bound ? "met" : "MISSED");
  }
  const double spread = perMiB[1] / perMiB[0];
  std::printf("  time per MiB, 256 vs 16 MiB: %.2fx (goal within 20%%: %s)\n", spread,
              spread >= 0.8 && spread <= 1.2 ? "met" : "MISSED");
  const Prepared p = Prepare(64);
  size_t peak = 0;
  double launcherBest = 1e9, directBest = 1e9;
  for (int round = 0; round < 3; ++round) {
    launcherBest = std::min(launcherBest, DecodeWithLauncher(p, &peak));
    directBest = std::min(directBest, DecodeWithLiblzma(p));
  }
  std::printf("  64 MiB: DecodePayload %.3f s, liblzma into one buffer %.3f s: %.1f%% slower (goal within 10%%: %s)\n",
              launcherBest, directBest, (launcherBest / directBest - 1) * 100,
              launcherBest <= directBest * 1.1 ? "met" : "MISSED");
  return 0;
}
