// The launcher's decoding step built for Windows and timed in-process: for
// each package named on the command line, DecodePayload once to warm up and
// then timed, printed in ms/MiB. Run under Wine by bench/wine_decode_bench.sh.
#include <cstdio>

#include "launcher/crc32.h"
#include "launcher/package.h"
#include "launcher/payload.h"
#include "platform/platform.h"
#include "platform/win32/windows_api.h"

namespace {

double Now() {
  LARGE_INTEGER t, f;
  QueryPerformanceCounter(&t);
  QueryPerformanceFrequency(&f);
  return double(t.QuadPart) / double(f.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  launcher::BuildCrcTable();
  for (int i = 1; i < argc; ++i) {
    const platform::Handle own = platform::CreateFileA(argv[i], platform::kGenericRead, platform::kFileShareRead,
                                                       platform::kOpenExisting, 0);
    if (own == platform::kInvalidHandleValue) {
      std::printf("%s: cannot open\n", argv[i]);
      return 1;
    }
    launcher::PackageLocator locator;
    launcher::PackageHeader header;
    launcher::ValidatePackage(own, &locator, &header);
    double best = 1e9;
    for (int round = 0; round < 2; ++round) {
      support::TStream compressed, decompressed;
      const double start = Now();
      launcher::DecodePayload(own, header.payload32, header, &compressed, &decompressed);
      const double took = Now() - start;
      if (round > 0 && took < best) best = took;
    }
    const double mib = header.payload32.uncompressedSize / 1048576.0;
    std::printf("  %s: %.0f MiB decoded in %.3f s, %.1f ms/MiB\n", argv[i], mib, best, best * 1000 / mib);
    platform::CloseHandle(own);
  }
  return 0;
}
