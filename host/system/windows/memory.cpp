// Large blocks on Windows: each in address space of its own, reserved for
// the most a 32-bit process's block can be, committed as far as it is used
// (its pages backed only once written), so that it grows and shrinks in place.
#include "host/system/windows/win32_api.h"

#include <algorithm>
#include <cstring>

#include "host/system/memory.h"

namespace sys {

namespace {

// Address space is plentiful in a 64-bit process: every block reserves 4 GiB.
constexpr size_t kReserved = size_t(4) << 30;

}  // namespace

void* MapBlock(size_t size) {
  void* block = VirtualAlloc(nullptr, std::max(size, kReserved), MEM_RESERVE, PAGE_READWRITE);
  if (block == nullptr) return nullptr;
  if (size > 0 && VirtualAlloc(block, size, MEM_COMMIT, PAGE_READWRITE) == nullptr) {
    VirtualFree(block, 0, MEM_RELEASE);
    return nullptr;
  }
  return block;
}

void* ResizeBlock(void* block, size_t oldSize, size_t size) {
  if (size <= oldSize) return block;  // its tail stays committed, unused
  if (std::max(oldSize, kReserved) >= size) {
    return VirtualAlloc(block, size, MEM_COMMIT, PAGE_READWRITE) != nullptr ? block : nullptr;
  }
  void* fresh = MapBlock(size);  // past its reservation: moved
  if (fresh == nullptr) return nullptr;
  std::memcpy(fresh, block, oldSize);
  VirtualFree(block, 0, MEM_RELEASE);
  return fresh;
}

void FreeBlock(void* block, size_t) { VirtualFree(block, 0, MEM_RELEASE); }

uintptr_t ProgramBase() { return reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr)); }

}  // namespace sys
