// The raw LZMA1 stream, compressed in pieces with liblzma.
#include "tools/packaging/lzma_encoder.h"

#include <lzma.h>

#include <algorithm>

namespace packaging {

bool ForEachPiece(const PieceSource& part,
                  const std::function<bool(uint64_t offset, const uint8_t* bytes, size_t count)>& each,
                  std::string* error) {
  Bytes piece(static_cast<size_t>(std::min<uint64_t>(kPiece, part.size)));
  for (uint64_t done = 0; done < part.size;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, part.size - done));
    if (!part.read(done, piece.data(), n, error) || !each(done, piece.data(), n)) return false;
    done += n;
  }
  return true;
}

bool CompressLzma1(const PieceSource& data, const LzmaSettings& s,
                   const std::function<bool(const uint8_t*, size_t)>& out, std::string* error) {
  lzma_options_lzma options;
  if (lzma_lzma_preset(&options, s.preset)) return *error = "bad LZMA preset", false;
  options.dict_size = s.dictionarySize;
  options.lc = s.lc;
  options.lp = s.lp;
  options.pb = s.pb;
  // LZMA1EXT without its end-marker flag writes no end marker; the decoder
  // takes the size from the payload entry.
  options.ext_flags = 0;
  options.ext_size_low = UINT32_MAX;
  options.ext_size_high = UINT32_MAX;
  lzma_filter filters[2] = {{s.endMarker ? LZMA_FILTER_LZMA1 : LZMA_FILTER_LZMA1EXT, &options},
                            {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_raw_encoder(&stream, filters) != LZMA_OK) return *error = "LZMA settings refused by liblzma", false;
  Bytes in(static_cast<size_t>(std::min<uint64_t>(kPiece, data.size))), pieceOut(kPiece);
  uint64_t fed = 0;
  bool ok = true;
  stream.next_out = pieceOut.data();
  stream.avail_out = pieceOut.size();
  for (;;) {
    if (stream.avail_in == 0 && fed < data.size) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, data.size - fed));
      if (s.progress) s.progress(fed, data.size);
      if (!data.read(fed, in.data(), n, error)) {
        ok = false;
        break;
      }
      stream.next_in = in.data();
      stream.avail_in = n;
      fed += n;
    }
    const lzma_ret ret = lzma_code(&stream, fed == data.size ? LZMA_FINISH : LZMA_RUN);
    if (ret != LZMA_OK && ret != LZMA_STREAM_END) {
      *error = "LZMA compression failed";
      ok = false;
      break;
    }
    if (stream.avail_out == 0 || ret == LZMA_STREAM_END) {
      if (!out(pieceOut.data(), pieceOut.size() - stream.avail_out)) {
        ok = false;
        break;
      }
      stream.next_out = pieceOut.data();
      stream.avail_out = pieceOut.size();
    }
    if (ret == LZMA_STREAM_END) break;
  }
  lzma_end(&stream);
  if (ok && s.progress) s.progress(data.size, data.size);
  return ok;
}

}  // namespace packaging
