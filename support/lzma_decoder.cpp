// The launcher's one decoding step over liblzma.
#include "support/lzma_decoder.h"

#include <lzma.h>

#include <cstring>

#include "support/lzma_decoder_steps.h"
#include "support/memory.h"

namespace support {

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

}  // namespace support
