// Compressing a program or data as the launcher decodes it: a raw LZMA1
// stream without an end marker, read and handed on in pieces.
#ifndef TOOLS_PACKAGING_LZMA_ENCODER_H_
#define TOOLS_PACKAGING_LZMA_ENCODER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "host/bytes.h"

namespace packaging {

using Bytes = host::Bytes;

// Pieces in which parts are read, compressed and written.
constexpr size_t kPiece = size_t(1) << 20;

struct LzmaSettings {
  uint32_t preset = 6;
  uint32_t dictionarySize = 1u << 22;
  uint32_t lc = 3, lp = 0, pb = 2;
  bool endMarker = false;  // the launcher needs none
  // Called now and then while compressing with the bytes done so far.
  std::function<void(uint64_t done, uint64_t total)> progress;
};

// Bytes a package is made from, read in pieces as they are written: from
// memory (InMemory), or from a file as the package tool reads it.
struct PieceSource {
  uint64_t size = 0;
  // Fills `to` with the `count` bytes from `offset` on; false with *error.
  std::function<bool(uint64_t offset, uint8_t* to, size_t count, std::string* error)> read;
};

// Hands `part` to `each` in pieces of kPiece bytes, in order, with each
// piece's offset. False when a piece cannot be read (*error says why) or
// `each` returns false (it says why itself).
bool ForEachPiece(const PieceSource& part,
                  const std::function<bool(uint64_t offset, const uint8_t* bytes, size_t count)>& each,
                  std::string* error);

// Compresses `data` as a raw LZMA1 stream, handing the stream to `out` in
// pieces (false from `out` stops it). False with *error on failure.
bool CompressLzma1(const PieceSource& data, const LzmaSettings& settings,
                   const std::function<bool(const uint8_t*, size_t)>& out, std::string* error);

}  // namespace packaging

#endif  // TOOLS_PACKAGING_LZMA_ENCODER_H_
