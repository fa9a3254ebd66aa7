// TStream's growth, reads and writes.
#include "support/stream.h"

#include <cstring>

#include "support/memory.h"

namespace support {

TStream::~TStream() { Clear(); }

int32_t TStream::Read(void* buffer, int32_t count) {
  if (Position < 0 || count < 0) return 0;
  const int32_t available = Size - Position;
  if (available <= 0) return 0;
  const int32_t n = count < available ? count : available;
  if (n > 0) std::memcpy(buffer, Memory + Position, static_cast<size_t>(n));
  Position += n;
  return n;
}

int32_t TStream::Write(const void* buffer, int32_t count) {
  if (Position < 0 || count < 0) return 0;
  const int32_t end = static_cast<int32_t>(static_cast<uint32_t>(Position) + static_cast<uint32_t>(count));
  if (end <= 0) return 0;
  if (end > Size) {
    if (end > Capacity) SetCapacity(end);
    Size = end;
  }
  if (count > 0) std::memcpy(Memory + Position, buffer, static_cast<size_t>(count));
  Position = end;
  return count;
}

int32_t TStream::Seek(int32_t offset, uint8_t origin) {
  switch (origin) {
    case 0: Position = offset; break;
    case 1: Position = static_cast<int32_t>(static_cast<uint32_t>(Position) + static_cast<uint32_t>(offset)); break;
    case 2: Position = static_cast<int32_t>(static_cast<uint32_t>(Size) + static_cast<uint32_t>(offset)); break;
    default: break;
  }
  return Position;
}

int32_t TStream::GetSize() {
  const int32_t saved = Seek(0, 1);
  const int32_t size = Seek(0, 2);
  Seek(saved, 0);
  return size;
}

void TStream::SetSize(int32_t size) {
  const int32_t saved = Position;
  SetCapacity(size);
  Size = size;
  if (size < saved) Seek(0, 2);
}

bool TStream::TrySetSize(int32_t size) {
  const int32_t saved = Position;
  if (!ChangeCapacity(size, false)) return false;
  Size = size;
  if (size < saved) Seek(0, 2);
  return true;
}

void TStream::SetCapacity(int32_t n) { ChangeCapacity(n, true); }

bool TStream::ChangeCapacity(int32_t n, bool insist) {
  if (n > 0 && n != Size) {
    n = static_cast<int32_t>((static_cast<uint32_t>(n) + uint32_t(kStreamGrowthUnit - 1)) &
                             ~uint32_t(kStreamGrowthUnit - 1));
  }
  if (n == Capacity) return true;
  if (n == 0) {
    ReleaseMemory(Memory);
    Memory = nullptr;
  } else {
    // A request past 2^31 wrapped to a negative number: as large a request
    // as it meant, which memory cannot meet.
    void* block = insist ? ResizeMemory(Capacity == 0 ? nullptr : Memory, static_cast<uint32_t>(n))
                         : TryResizeMemory(Capacity == 0 ? nullptr : Memory, static_cast<uint32_t>(n));
    if (block == nullptr) return false;
    Memory = static_cast<uint8_t*>(block);
  }
  Capacity = n;
  return true;
}

void TStream::Clear() {
  SetCapacity(0);
  Size = 0;
  Position = 0;
}

}  // namespace support
