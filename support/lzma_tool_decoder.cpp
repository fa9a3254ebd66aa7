// The tools' decoding in pieces and its replay, over the launcher's decoder.
#include "support/lzma_tool_decoder.h"

#include "support/lzma_decoder_steps.h"

namespace support {

bool TToolLZMADecoder::Replay(const TStream* input, int64_t size, int32_t produced, TStream* output) {
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

bool TToolLZMADecoder::DecodeInPieces(const uint8_t* input, size_t inputSize, int64_t size, PieceTaker take,
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
