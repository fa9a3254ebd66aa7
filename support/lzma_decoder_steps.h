// The decoder's memory steps, shared by TLZMADecoder (lzma_decoder.cpp) and
// the tools' decoder (lzma_tool_decoder.cpp), which must take memory
// exactly as it does. Included by those two files only.
#ifndef SUPPORT_LZMA_DECODER_STEPS_H_
#define SUPPORT_LZMA_DECODER_STEPS_H_

#include <lzma.h>

#include <cstdint>

#include "support/memory.h"
#include "support/stream.h"

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

}  // namespace support

#endif  // SUPPORT_LZMA_DECODER_STEPS_H_
