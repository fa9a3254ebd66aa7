#include "support/lzma_decoder.h"

#include <lzma.h>

#include "launcher/memory.h"

namespace support {

namespace {

constexpr uint32_t kSmallestWindow = 4096;

void* Allocate(void*, size_t count, size_t size) { return launcher::AllocateMemory(count * size); }
void Release(void*, void* block) { launcher::ReleaseMemory(block); }
const lzma_allocator kAllocator = {&Allocate, &Release, nullptr};

}  // namespace

bool TLZMADecoder::SetProperties(const uint8_t* bytes, int32_t count) {
  if (count < 5) return false;
  const uint32_t b = bytes[0];
  lc_ = b % 9;
  lp_ = (b / 9) % 5;
  pb_ = b / 45;
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
  // Matches never reach back further than what has been produced, so a
  // window larger than the output is never used: don't ask for one.
  lzma_options_lzma options{};
  options.lc = lc_;
  options.lp = lp_;
  options.pb = pb_;
  uint32_t window = dictionarySize_;
  if (window > static_cast<uint64_t>(size)) window = static_cast<uint32_t>(size);
  options.dict_size = window < kSmallestWindow ? kSmallestWindow : window;
  const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream stream = LZMA_STREAM_INIT;
  stream.allocator = &kAllocator;
  if (lzma_raw_decoder(&stream, filters) != LZMA_OK) {
    lzma_end(&stream);
    return false;
  }

  // The output grows once to the bound and is decoded into in place: growing
  // it piece by piece would copy the block again and again on allocators
  // that move a block to grow it.
  output->SetSize(static_cast<int32_t>(size));
  stream.next_in = input->Memory;
  stream.avail_in = input->Size > 0 ? static_cast<size_t>(input->Size) : 0;
  stream.next_out = output->Memory;
  stream.avail_out = static_cast<size_t>(size);
  bool complete = false;
  for (;;) {
    const size_t inBefore = stream.avail_in, outBefore = stream.avail_out;
    const lzma_ret ret = lzma_code(&stream, LZMA_RUN);
    if (ret == LZMA_STREAM_END || stream.avail_out == 0) {
      complete = true;
      break;
    }
    if (ret != LZMA_OK) break;
    if (stream.avail_in == inBefore && stream.avail_out == outBefore) break;
  }
  const int32_t produced = static_cast<int32_t>(static_cast<size_t>(size) - stream.avail_out);
  lzma_end(&stream);
  output->SetSize(produced);
  output->Seek(0, 2);
  return complete;
}

}  // namespace support
