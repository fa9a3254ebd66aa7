// Prints the figures of a whole run on the simulated machine, from packages
// of real executable code (this machine's own programs): time split into
// validation, decoding and writing, against zlib's crc32 + liblzma decoding
// into one buffer + one file write of the same bytes; and how time and peak
// memory grow from 16 to 256 MiB. Figures, not a test.
#include <fcntl.h>
#include <lzma.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "launcher/crc32.h"
#include "launcher/package.h"
#include "launcher/payload.h"
#include "launcher/temp_copy.h"
#include "platform/sim/sim_machine.h"
#include "tests/helpers/package_builder.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kMiB = 1u << 20;
constexpr uint32_t kDictionary = 4 * kMiB;

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

packaging::Bytes ExecutableCode(uint32_t size) {
  packaging::Bytes code;
  FILE* pipe = popen("find /usr/bin /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -size +100k -print0 2>/dev/null"
                     " | sort -z | xargs -0 cat 2>/dev/null", "r");
  code.resize(size);
  size_t got = pipe ? fread(code.data(), 1, size, pipe) : 0;
  if (pipe) pclose(pipe);
  for (size_t i = got; i < size; ++i) code[i] = code[i % (got ? got : 1)];
  code[0] = 'M';
  code[1] = 'Z';
  return code;
}

struct Figures {
  double validation, decoding, writing;  // the launcher's steps
  double crc, lzma, write;               // the baseline
  size_t peak, bound;
};

Figures Measure(uint32_t mib) {
  packaging::PackageInput input;
  input.image = packaging::Bytes(1024, 0);
  input.image[0] = 'M';
  input.image[1] = 'Z';
  input.program32 = ExecutableCode(mib * kMiB);
  input.lzma.preset = 1;
  input.lzma.dictionarySize = kDictionary;
  input.crcReach = packaging::CrcReach::kWholePackage;
  packaging::BuiltPackage package;
  std::string error;
  if (!packaging::BuildPackage(input, &package, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::exit(1);
  }
  Figures f{};
  sim::Machine machine;
  machine.memoryLimit = size_t(3) << 30;
  machine.AddFile(machine.modulePath, package.bytes);
  machine.Install();
  launcher::BuildCrcTable();
  const platform::Handle own = platform::CreateFileA(machine.modulePath.c_str(), platform::kGenericRead,
                                                     platform::kFileShareRead, platform::kOpenExisting, 0);
  launcher::PackageLocator locator;
  launcher::PackageHeader header;
  auto t = Clock::now();
  launcher::ValidatePackage(own, &locator, &header);
  f.validation = Since(t);
  {
    support::TStream compressed, decompressed;
    t = Clock::now();
    launcher::DecodePayload(own, header.payload32, header, &compressed, &decompressed);
    f.decoding = Since(t);
    t = Clock::now();
    launcher::WriteTemporaryCopy("C:\\Users\\user\\AppData\\Local\\Temp\\setup.exe", &decompressed,
                                 header.payload32.uncompressedSize);
    f.writing = Since(t);
  }
  f.peak = machine.memoryPeak;
  f.bound = header.payload32.compressedSize + size_t(header.payload32.uncompressedSize) + kDictionary + 4 * kMiB;

  // The baseline: the same work done directly.
  const uint8_t* region = package.bytes.data() + locator.headerOffset;
  t = Clock::now();
  volatile uLong crc = crc32(0, region, locator.crcLength);
  (void)crc;
  f.crc = Since(t);
  t = Clock::now();
  std::unique_ptr<uint8_t[]> out(new uint8_t[header.payload32.uncompressedSize]);
  lzma_options_lzma options{};
  options.lc = 3;
  options.pb = 2;
  options.dict_size = kDictionary;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream s = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&s, filters) != LZMA_OK) std::exit(1);
  s.next_in = package.bytes.data() + header.payload32.offset;
  s.avail_in = header.payload32.compressedSize;
  s.next_out = out.get();
  s.avail_out = header.payload32.uncompressedSize;
  while (s.avail_out > 0 && lzma_code(&s, LZMA_RUN) == LZMA_OK) {
  }
  lzma_end(&s);
  f.lzma = Since(t);
  char path[] = "/tmp/run-bench-XXXXXX";
  const int fd = mkstemp(path);
  t = Clock::now();
  if (write(fd, out.get(), header.payload32.uncompressedSize) < 0) std::exit(1);
  f.write = Since(t);
  close(fd);
  unlink(path);
  return f;
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::printf("whole run on the simulated machine, packages of real executable code (LZMA preset 1, CRC over the whole package)\n");
  const uint32_t sizes[] = {16, 64, 256};
  double perMiB[3];
  for (int i = 0; i < 3; ++i) {
    const Figures f = Measure(sizes[i]);
    const double ours = f.validation + f.decoding + f.writing;
    const double base = f.crc + f.lzma + f.write;
    perMiB[i] = ours * 1000 / sizes[i];
    std::printf("  %3u MiB: validation %.3f s, decoding %.3f s, writing %.3f s = %.3f s (%.1f ms/MiB)\n", sizes[i],
                f.validation, f.decoding, f.writing, ours, perMiB[i]);
    std::printf("           zlib crc32 %.3f s + liblzma %.3f s + one file write %.3f s = %.3f s: %+.1f%% (goal within 10%%: %s)\n",
                f.crc, f.lzma, f.write, base, (ours / base - 1) * 100, ours <= base * 1.1 ? "met" : "MISSED");
    std::printf("           peak memory %.1f MiB, goal at most %.1f MiB (%s)\n", f.peak / double(kMiB),
                f.bound / double(kMiB), f.peak <= f.bound ? "met" : "MISSED");
  }
  std::printf("  time per MiB at 256 vs 16 MiB: %.2fx (linear when near 1)\n", perMiB[2] / perMiB[0]);
  return 0;
}
