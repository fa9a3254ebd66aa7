#include "support/lzma_decoder.h"

#include <lzma.h>

#include <cstring>

#include "support/memory.h"

namespace support {

namespace {

constexpr uint32_t kSmallestWindow = 4096;
// The first output block: the bound, or this many times the input when that
// is less (real programs decode to 2 to 10 times their stream), at least
// kSmallestFirstBlock.
constexpr int32_t kFirstBlockRatio = 64;
constexpr int32_t kSmallestFirstBlock = 1 << 20;

void* Allocate(void*, size_t count, size_t size) { return AllocateMemory(count * size); }
void Release(void*, void* block) { ReleaseMemory(block); }
const lzma_allocator kAllocator = {&Allocate, &Release, nullptr};

// Grows `output` to `wanted` bytes where memory allows it, otherwise to as
// much between `needed` and `wanted` as it allows. Only `needed` bytes are
// insisted on: a block of that size that cannot be had ends the run.
void Grow(TStream* output, int32_t needed, int32_t wanted) {
  for (int32_t n = wanted; n > needed; n = needed + (n - needed) / 2) {
    if (output->TrySetSize(n)) return;
  }
  output->SetSize(needed);
}

// The first block: the bound, or kFirstBlockRatio times the input when that
// is less, at least kSmallestFirstBlock (see Decode).
void GrowFirst(TStream* output, int32_t inputSize, int32_t bound) {
  int32_t block = inputSize > bound / kFirstBlockRatio ? bound : inputSize * kFirstBlockRatio;
  if (block < kSmallestFirstBlock) block = kSmallestFirstBlock;
  if (block > bound) block = bound;
  Grow(output, bound < kStreamGrowthUnit ? bound : kStreamGrowthUnit, block);
}

// A full block that the stream has another byte for: twice as large, capped
// at the bound.
void GrowFull(TStream* output, int32_t bound) {
  const int32_t produced = output->Size;
  Grow(output, produced + 1, produced > bound - produced ? bound : produced * 2);
}

// Twice: the first keeps whole units, the second (at the stream's own size)
// trims the block to exactly what was produced.
void Trim(TStream* output, int32_t produced) {
  output->SetSize(produced);
  output->SetSize(produced);
  output->Seek(0, 2);
}

// The decoder for a stream of `size` bytes, its memory taken as Decode takes
// it. False when liblzma refuses the settings (then nothing is held).
bool StartDecoder(lzma_stream* stream, uint32_t lc, uint32_t lp, uint32_t pb, uint32_t dictionarySize,
                  int64_t size) {
  // Matches never reach back further than what has been produced, so a
  // window larger than the output is never used: don't ask for one.
  lzma_options_lzma options{};
  options.lc = lc;
  options.lp = lp;
  options.pb = pb;
  uint32_t window = dictionarySize;
  if (window > static_cast<uint64_t>(size)) window = static_cast<uint32_t>(size);
  options.dict_size = window < kSmallestWindow ? kSmallestWindow : window;
  const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  *stream = LZMA_STREAM_INIT;
  stream->allocator = &kAllocator;
  if (lzma_raw_decoder(stream, filters) == LZMA_OK) return true;
  lzma_end(stream);
  return false;
}

}  // namespace

bool TLZMADecoder::SetProperties(const uint8_t* bytes, int32_t count) {
  if (count < 5) return false;
  const LzmaProperties p = SplitPropertiesByte(bytes[0]);
  lc_ = p.lc;
  lp_ = p.lp;
  pb_ = p.pb;
  if (lc_ > 8 || lp_ > 4 || pb_ > 4) return false;
  if (lc_ + lp_ > LZMA_LCLP_MAX) return false;
  dictionarySize_ = uint32_t(bytes[1]) | uint32_t(bytes[2]) << 8 | uint32_t(bytes[3]) << 16 |
                    uint32_t(bytes[4]) << 24;
  if (static_cast<int32_t>(dictionarySize_) < 0) return false;
  ready_ = true;
  return true;
}

bool TLZMADecoder::Decode(TStream* input, TStream* output, int64_t size) {
  if (!ready_ || size < 0 || size > INT32_MAX) return false;
  if (size == 0) return true;
  lzma_stream stream;
  if (!StartDecoder(&stream, lc_, lp_, pb_, dictionarySize_, size)) return false;

  // The output grows as data is produced, never past the bound. A program's
  // stream decodes to a few times its own size, so the first block is the
  // whole bound when that is at most kFirstBlockRatio times the input: one
  // block, nothing copied. Otherwise (a size field that claims more than the
  // stream can hold, or data that compresses extremely well) the block starts
  // there and doubles, capped at the bound: the cost stays linear on any
  // allocator. Every block beyond the bytes the stream has really produced is
  // a guess, taken smaller where memory cannot give it, so a stream that ends
  // early is damage whatever its size field claims, and memory runs out only
  // for bytes the stream really produces.
  const int32_t bound = static_cast<int32_t>(size);
  const int32_t inputSize = input->Size > 0 ? input->Size : 0;
  GrowFirst(output, inputSize, bound);
  stream.next_in = input->Memory;
  stream.avail_in = static_cast<size_t>(inputSize);
  int32_t produced = 0;
  bool complete = false;
  for (;;) {
    // A full block grows only when the stream gives another byte: that byte
    // is decoded on its own first.
    uint8_t next = 0;
    const bool full = produced == output->Size;
    stream.next_out = full ? &next : output->Memory + produced;
    stream.avail_out = full ? 1 : static_cast<size_t>(output->Size - produced);
    const size_t inBefore = stream.avail_in, outBefore = stream.avail_out;
    const lzma_ret ret = lzma_code(&stream, LZMA_RUN);
    if (full && stream.avail_out == 0) {
      GrowFull(output, bound);
      output->Memory[produced] = next;
    }
    produced += static_cast<int32_t>(outBefore - stream.avail_out);
    if (ret == LZMA_STREAM_END || produced == bound) {
      complete = true;
      break;
    }
    if (ret != LZMA_OK || (stream.avail_in == inBefore && stream.avail_out == outBefore)) break;
  }
  lzma_end(&stream);
  Trim(output, produced);
  return complete;
}

bool TLZMADecoder::Replay(const TStream* input, int64_t size, int32_t produced, TStream* output) {
  if (!ready_ || size < 0 || size > INT32_MAX || produced < 0 || produced > size) return false;
  if (size == 0) return true;
  lzma_stream stream;
  if (!StartDecoder(&stream, lc_, lp_, pb_, dictionarySize_, size)) return false;
  const int32_t bound = static_cast<int32_t>(size);
  GrowFirst(output, input->Size > 0 ? input->Size : 0, bound);
  // A full block grows when the stream gives another byte.
  while (output->Size < produced) GrowFull(output, bound);
  lzma_end(&stream);
  Trim(output, produced);
  return true;
}

bool TLZMADecoder::DecodeInPieces(const uint8_t* input, size_t inputSize, int64_t size, PieceTaker take,
                                  void* context, int64_t* produced) {
  *produced = 0;
  if (!ready_ || size < 0 || size > INT32_MAX) return false;
  if (size == 0) return true;
  lzma_stream stream;
  if (!StartDecoder(&stream, lc_, lp_, pb_, dictionarySize_, size)) return false;
  constexpr size_t kPiece = size_t(1) << 20;
  uint8_t* piece = static_cast<uint8_t*>(AllocateMemory(kPiece));
  stream.next_in = input;
  stream.avail_in = inputSize;
  bool complete = false;
  for (;;) {
    const int64_t left = size - *produced;
    stream.next_out = piece;
    stream.avail_out = left < int64_t(kPiece) ? static_cast<size_t>(left) : kPiece;
    const size_t inBefore = stream.avail_in, outBefore = stream.avail_out;
    const lzma_ret ret = lzma_code(&stream, LZMA_RUN);
    const size_t count = outBefore - stream.avail_out;
    if (count > 0) take(context, piece, count);
    *produced += static_cast<int64_t>(count);
    if (ret == LZMA_STREAM_END || *produced == size) {
      complete = true;
      break;
    }
    if (ret != LZMA_OK || (stream.avail_in == inBefore && stream.avail_out == outBefore)) break;
  }
  ReleaseMemory(piece);
  lzma_end(&stream);
  return complete;
}

}  // namespace support
