// Large blocks on Windows: committed address space, whose pages are only
// backed once written; a block that grows is copied into a new one.
#include "host/system/windows/win32_api.h"

#include <cstring>

#include "host/system/memory.h"

namespace sys {

void* MapBlock(size_t size) { return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE); }

void* ResizeBlock(void* block, size_t oldSize, size_t size) {
  if (size <= oldSize) return block;  // its tail stays unused
  void* fresh = MapBlock(size);
  if (fresh == nullptr) return nullptr;
  std::memcpy(fresh, block, oldSize);
  VirtualFree(block, 0, MEM_RELEASE);
  return fresh;
}

void FreeBlock(void* block, size_t) { VirtualFree(block, 0, MEM_RELEASE); }

uintptr_t ProgramBase() { return reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr)); }

}  // namespace sys
