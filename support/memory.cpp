// The launcher's blocks of memory, through the platform.
#include "support/memory.h"

#include "platform/platform.h"

namespace support {

// The address in the report is the caller's, where the request was made.
__attribute__((noinline)) void* AllocateMemory(std::size_t size) {
  void* block = platform::MemoryAllocate(size == 0 ? 1 : size);
  if (block == nullptr) ReportOutOfMemory(__builtin_return_address(0));
  return block;
}

__attribute__((noinline)) void* ResizeMemory(void* block, std::size_t size) {
  void* resized = TryResizeMemory(block, size);
  if (resized == nullptr) ReportOutOfMemory(__builtin_return_address(0));
  return resized;
}

void* TryResizeMemory(void* block, std::size_t size) {
  return block == nullptr ? platform::MemoryAllocate(size == 0 ? 1 : size)
                          : platform::MemoryResize(block, size == 0 ? 1 : size);
}

void ReleaseMemory(void* block) {
  if (block != nullptr) platform::MemoryRelease(block);
}

}  // namespace support
