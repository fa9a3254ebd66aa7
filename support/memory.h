// The launcher's memory. Every block comes from here: a request that cannot
// be met ends the run through ReportOutOfMemory, so callers never see a null
// block.
#ifndef SUPPORT_MEMORY_H_
#define SUPPORT_MEMORY_H_

#include <cstddef>

namespace support {

// Never returns null; a size of 0 still gives a valid block.
void* AllocateMemory(std::size_t size);
// Resizes `block` (null: allocates), keeping its first bytes; never null.
void* ResizeMemory(void* block, std::size_t size);
// As ResizeMemory, for a block that is only worth having: null when it
// cannot be had, and then `block` is unchanged.
void* TryResizeMemory(void* block, std::size_t size);
// Null is allowed and does nothing.
void ReleaseMemory(void* block);

// Supplied by the program that links this layer (the launcher: its
// last-resort report, runtime error 203). `callerAddress` is where the
// request was made. Does not return.
[[noreturn]] void ReportOutOfMemory(const void* callerAddress);

}  // namespace support

#endif  // SUPPORT_MEMORY_H_
