// The launcher's memory. Every block comes from here: a request that cannot
// be met ends the run with the last-resort report (runtime error 203), so
// callers never see a null block.
#ifndef LAUNCHER_MEMORY_H_
#define LAUNCHER_MEMORY_H_

#include <cstddef>

namespace launcher {

// Never returns null; a size of 0 still gives a valid block.
void* AllocateMemory(std::size_t size);
// Resizes `block` (null: allocates), keeping its first bytes; never null.
void* ResizeMemory(void* block, std::size_t size);
// Null is allowed and does nothing.
void ReleaseMemory(void* block);

}  // namespace launcher

#endif  // LAUNCHER_MEMORY_H_
