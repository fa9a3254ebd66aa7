// TToolLZMADecoder: TLZMADecoder with what only the tools need, never
// built into the launcher's image: decoding in pieces (no program held
// whatever its size) and replaying a decoding's memory without decoding.
#ifndef SUPPORT_LZMA_TOOL_DECODER_H_
#define SUPPORT_LZMA_TOOL_DECODER_H_

#include <cstddef>
#include <cstdint>

#include "support/lzma_decoder.h"
#include "support/stream.h"

namespace support {

class TToolLZMADecoder : public TLZMADecoder {
 public:
  // For tools that decode a payload once and run the launcher over it many
  // times: takes memory as Decode takes it (the decoder's, the output's
  // first block and each growth) for `input` bounded at `size` where the
  // stream produced `produced` bytes, and leaves `output` at that size. Its
  // bytes are not written: the caller fills or declares them. False where
  // Decode would refuse the settings.
  bool Replay(const TStream* input, int64_t size, int32_t produced, TStream* output);

  // Decodes as Decode does, bounded at `size`, but hands the bytes on in
  // pieces (to `take`, with `context`) instead of holding them; `*produced`
  // counts them. The decoder's own memory is taken as Decode takes it. True
  // when it ended at the size or at an end marker.
  using PieceTaker = void (*)(void* context, const uint8_t* bytes, size_t count);
  bool DecodeInPieces(const uint8_t* input, size_t inputSize, int64_t size, PieceTaker take, void* context,
                      int64_t* produced);
};

}  // namespace support

#endif  // SUPPORT_LZMA_TOOL_DECODER_H_
