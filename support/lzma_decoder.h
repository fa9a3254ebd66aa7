// TLZMADecoder: decodes one raw LZMA1 stream (no header, no size of its own)
// with liblzma. The output is bounded at the size the caller gives, so the
// range coder's final bytes are never decoded as further symbols.
#ifndef SUPPORT_LZMA_DECODER_H_
#define SUPPORT_LZMA_DECODER_H_

#include <cstddef>
#include <cstdint>

#include "support/stream.h"

namespace support {

// The LZMA1 properties byte holds three numbers: (pb * 5 + lp) * 9 + lc.
struct LzmaProperties {
  uint32_t lc, lp, pb;
};
inline LzmaProperties SplitPropertiesByte(uint8_t b) { return {b % 9u, b / 9u % 5u, b / 45u}; }
inline uint8_t PropertiesByte(const LzmaProperties& p) { return static_cast<uint8_t>((p.pb * 5 + p.lp) * 9 + p.lc); }

class TLZMADecoder {
 public:
  TLZMADecoder() = default;
  TLZMADecoder(const TLZMADecoder&) = delete;
  TLZMADecoder& operator=(const TLZMADecoder&) = delete;
  ~TLZMADecoder() = default;

  // Takes the five property bytes (properties byte, dictionary size). False
  // when fewer are given, pb is above 4, the dictionary size is negative as a
  // signed 32-bit number, or lc + lp is above 4 (liblzma decodes nothing else).
  bool SetProperties(const uint8_t* bytes, int32_t count);

  // Decodes `input` from position 0 to its end, appending to `output` (which
  // comes in empty) until it holds `size` bytes, an end marker is met, the
  // data is bad or the input is used up. True when it ended at the size or
  // at an end marker.
  bool Decode(TStream* input, TStream* output, int64_t size);

 protected:  // TToolLZMADecoder (the tools' build only) shares the settings
  bool ready_ = false;
  uint32_t lc_ = 0, lp_ = 0, pb_ = 0;
  uint32_t dictionarySize_ = 0;
};

}  // namespace support

#endif  // SUPPORT_LZMA_DECODER_H_
