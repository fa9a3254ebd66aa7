// TStream: one contiguous, growable block of memory with a size, a position
// and a capacity. It reports nothing: requests it cannot serve return 0 or
// leave the stream unchanged. A block that cannot be had ends the run with
// runtime error 203.
//
// Capacity grows in whole units of 128 KiB, except that SetSize to the size
// the stream already has trims the block to exactly that size.
#ifndef SUPPORT_STREAM_H_
#define SUPPORT_STREAM_H_

#include <cstdint>

namespace support {

constexpr int32_t kStreamGrowthUnit = 0x20000;

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream();

  // Copies up to `count` bytes from the position on; returns how many.
  int32_t Read(void* buffer, int32_t count);
  // Copies `count` bytes at the position, growing the stream; returns count,
  // or 0 when refused (negative position or count, an end at or past 2^31,
  // or nothing to write at position 0).
  int32_t Write(const void* buffer, int32_t count);
  // origin 0: from the start, 1: from the position, 2: from the end; any
  // other origin leaves the position. Nothing is clamped.
  int32_t Seek(int32_t offset, uint8_t origin);
  int32_t GetSize();
  void SetSize(int32_t size);
  // As SetSize, but a block that cannot be had leaves the stream as it was
  // and returns false instead of ending the run.
  bool TrySetSize(int32_t size);
  void SetCapacity(int32_t capacity);
  void Clear();

  // Callers may read and write the block directly but never free or replace it.
  uint8_t* Memory = nullptr;
  int32_t Size = 0;
  int32_t Position = 0;
  int32_t Capacity = 0;

 private:
  // SetCapacity; with `insist` false a block that cannot be had returns false.
  bool ChangeCapacity(int32_t capacity, bool insist);
};

}  // namespace support

#endif  // SUPPORT_STREAM_H_
