// The floors the launcher's whole run is measured against: the same liblzma,
// built the same way, decoding a raw LZMA1 stream into one block allocated
// beforehand. Reads FILE.lzma (the .lzma format: properties byte, dictionary
// size, uncompressed size, stream) with one read, decodes it and exits 0 when
// it decoded to its size. With COPY, it then also does what the launcher's
// steps need beyond that: writes the block whole to COPY with one WriteFile
// and deletes it again (the floor of a whole run); without, nothing else (the
// bare decode). With a third word, "crc", it also takes the launcher's CRC-32
// over the file before decoding, as the launcher checks its CRC region first.
// Run under Wine by bench/wine_decode_bench.sh.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <lzma.h>
#include <windows.h>

#include "launcher/crc32.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) return 2;
  FILE* in = std::fopen(argv[1], "rb");
  if (in == nullptr) return 3;
  std::fseek(in, 0, SEEK_END);
  const long length = std::ftell(in);
  std::fseek(in, 0, SEEK_SET);
  uint8_t* file = static_cast<uint8_t*>(std::malloc(length));
  if (file == nullptr || std::fread(file, 1, length, in) != size_t(length)) return 3;
  std::fclose(in);
  if (argc == 4) {
    launcher::BuildCrcTable();
    std::printf("%08x\n", static_cast<unsigned>(launcher::Crc32(file, length)));  // the CRC is used
  }
  uint32_t dictionary;
  uint64_t size;
  std::memcpy(&dictionary, file + 1, 4);
  std::memcpy(&size, file + 5, 8);
  lzma_options_lzma options{};
  options.lc = file[0] % 9;
  options.lp = file[0] / 9 % 5;
  options.pb = file[0] / 45;
  options.dict_size = dictionary < size ? dictionary : static_cast<uint32_t>(size);
  if (options.dict_size < 4096) options.dict_size = 4096;
  const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&stream, filters) != LZMA_OK) return 4;
  uint8_t* out = static_cast<uint8_t*>(std::malloc(size));
  if (out == nullptr) return 5;
  stream.next_in = file + 13;
  stream.avail_in = length - 13;
  stream.next_out = out;
  stream.avail_out = size;
  const lzma_ret ret = lzma_code(&stream, LZMA_RUN);
  const bool whole = stream.avail_out == 0 && (ret == LZMA_OK || ret == LZMA_STREAM_END);
  lzma_end(&stream);
  std::printf("%u\n", static_cast<unsigned>(out[size / 2]));  // the output is used
  if (whole && argc >= 3) {
    HANDLE copy = CreateFileA(argv[2], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (copy == INVALID_HANDLE_VALUE) return 7;
    DWORD written = 0;
    const BOOL wrote = WriteFile(copy, out, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(copy);
    DeleteFileA(argv[2]);
    if (!wrote || written != size) return 8;
  }
  return whole ? 0 : 6;
}
