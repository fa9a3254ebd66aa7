// The machine on which the tool runs the launcher's steps for a verdict on
// memory: what a 32-bit process gets on 64-bit Windows, and the launcher's
// out-of-memory report (runtime error 203) on it.
#ifndef TOOLS_PACKAGING_LAUNCHER_MEMORY_H_
#define TOOLS_PACKAGING_LAUNCHER_MEMORY_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace packaging {

// What a 32-bit process on 64-bit Windows can have, less what the system
// itself takes there.
constexpr size_t kMachineMemory = size_t(3) << 30;

// A block that every 32-bit process gets. Larger ones depend on the
// machine: a 32-bit process's free address space comes in ranges of less
// than 2 GiB, and what is free in them differs from machine to machine.
constexpr size_t kBlockEveryProcessGets = size_t(1) << 30;

// Whether the launcher's message is its out-of-memory report (runtime error
// 203).
bool OutOfMemory(const std::string& message);

// What the launcher shows when it takes one block of `length` bytes on that
// machine: its out-of-memory report, or "" when the block is had.
std::string BlockMemoryError(uint32_t length);

}  // namespace packaging

#endif  // TOOLS_PACKAGING_LAUNCHER_MEMORY_H_
