// Memory the simulated machine and the tools take in large blocks, declared
// once, defined for each system in host/system/posix and host/system/windows.
#ifndef HOST_SYSTEM_MEMORY_H_
#define HOST_SYSTEM_MEMORY_H_

#include <cstddef>
#include <cstdint>

namespace sys {

// A block whose pages cost nothing until they are written: nullptr when the
// system has no room. ResizeBlock keeps the first bytes (nullptr, the old
// block kept, when there is no room); FreeBlock gives it back.
void* MapBlock(size_t size);
void* ResizeBlock(void* block, size_t oldSize, size_t size);
void FreeBlock(void* block, size_t size);
// Where the running program is loaded (its code addresses are shown as
// offsets from here, the same on every run).
uintptr_t ProgramBase();

}  // namespace sys

#endif  // HOST_SYSTEM_MEMORY_H_
