// Large blocks on Linux: anonymous mappings, backed only where written,
// resized in place where the address space allows.
#include "host/system/memory.h"

#include <sys/mman.h>

extern "C" char __executable_start;  // where the program is loaded (GNU ld)

namespace sys {

void* MapBlock(size_t size) {
  void* block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return block == MAP_FAILED ? nullptr : block;
}

void* ResizeBlock(void* block, size_t oldSize, size_t size) {
  void* moved = ::mremap(block, oldSize, size, MREMAP_MAYMOVE);
  return moved == MAP_FAILED ? nullptr : moved;
}

void FreeBlock(void* block, size_t size) { ::munmap(block, size); }

uintptr_t ProgramBase() { return reinterpret_cast<uintptr_t>(&__executable_start); }

}  // namespace sys
