// The simulated machine's memory, as a 32-bit process has it: blocks in the
// free ranges of its address space.
#include "platform/sim/sim_state.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "host/system/memory.h"

namespace platform {

using namespace sim;

namespace {

// The two free ranges of a 32-bit process (see Machine::largeAddressAware).
constexpr std::size_t kLowRange = (std::size_t(2) << 30) - (std::size_t(128) << 20);
constexpr std::size_t kHighRange = (std::size_t(2) << 30) - (std::size_t(64) << 10);

std::size_t RangeSize(const Machine& m, int range) {
  if (range == 0) return kLowRange;
  return m.largeAddressAware && m.wow64 ? kHighRange : 0;
}

// The range a block of `size` fits into besides what is there (`keep`
// bytes of an old block in that range excepted), or -1.
int FittingRange(const Machine& m, std::size_t size, int oldRange, std::size_t keep) {
  if (m.memoryInUse - keep + size > m.memoryLimit) return -1;
  for (int range = 0; range < 2; ++range) {
    const std::size_t used = StateOf(m).rangeInUse[range] - (range == oldRange ? keep : 0);
    if (size <= RangeSize(m, range) - std::min(used, RangeSize(m, range))) return range;
  }
  return -1;
}

// Blocks from this size on get pages of their own instead of the host's
// heap: a run that only declares a block's bytes, or trims a guess to what
// it used, then costs the host (and a sanitizer's heap) nothing for the rest.
constexpr std::size_t kMappedFrom = std::size_t(64) << 20;

// The host's memory for a block of `size` (nullptr when the host has none).
void* HostBlock(std::size_t size) {
  if (size < kMappedFrom) return std::malloc(size);
  return sys::MapBlock(size);
}

void FreeHostBlock(void* block, const Block& b) {
  if (b.mapped) sys::FreeBlock(block, b.size);
  else std::free(block);
}

// The block's bytes in a host block of `size`, the old one freed; nullptr
// (the old one kept) when the host has no memory.
void* ResizeHostBlock(void* block, const Block& old, std::size_t size) {
  if (!old.mapped && size < kMappedFrom) return std::realloc(block, size);
  if (old.mapped && size >= kMappedFrom) {
    return sys::ResizeBlock(block, old.size, size);
  }
  void* fresh = HostBlock(size);
  if (fresh == nullptr) return nullptr;
  std::memcpy(fresh, block, std::min(old.size, size));
  FreeHostBlock(block, old);
  return fresh;
}

void Account(Machine& m, void* block, std::size_t size, int range) {
  StateOf(m).blocks[block] = Block{size, range, size >= kMappedFrom};
  StateOf(m).rangeInUse[range] += size;
  m.memoryInUse += size;
  m.memoryPeak = std::max(m.memoryPeak, m.memoryInUse);
}

void Unaccount(Machine& m, std::map<void*, Block>::iterator it) {
  StateOf(m).declared.erase(it->first);
  StateOf(m).rangeInUse[it->second.range] -= it->second.size;
  m.memoryInUse -= it->second.size;
  StateOf(m).blocks.erase(it);
}

}  // namespace

void* MemoryAllocate(std::size_t size) {
  Machine& m = TheMachine();
  m.largestRequest = std::max(m.largestRequest, size);
  m.memoryRequests.push_back(size);
  const int range = Fault(m, "MemoryAllocate") ? -1 : FittingRange(m, size, -1, 0);
  void* block = range < 0 ? nullptr : HostBlock(size);
  if (block == nullptr) {
    ++m.memoryRefusals;
    return nullptr;
  }
  Account(m, block, size, range);
  return block;
}

// A block that grows stays in its range when the range has room, otherwise
// moves (the old block is kept until the copy is made).
void* MemoryResize(void* block, std::size_t size) {
  Machine& m = TheMachine();
  auto it = StateOf(m).blocks.find(block);
  if (it == StateOf(m).blocks.end()) throw std::logic_error("resize of a block not allocated here");
  m.largestRequest = std::max(m.largestRequest, size);
  m.memoryRequests.push_back(size);
  const Block old = it->second;
  int range = Fault(m, "MemoryResize") ? -1 : FittingRange(m, size, old.range, old.size);
  if (range != old.range && range >= 0) range = FittingRange(m, size, -1, 0);  // moved: both exist at once
  void* resized = range < 0 ? nullptr : ResizeHostBlock(block, old, size);
  if (resized == nullptr) {
    ++m.memoryRefusals;
    return nullptr;
  }
  if (size < old.size) m.largestSettled = std::max(m.largestSettled, size);
  Unaccount(m, it);  // the old block's entry (its address is no longer used)
  Account(m, resized, size, range);
  return resized;
}

void MemoryRelease(void* block) {
  Machine& m = TheMachine();
  auto it = StateOf(m).blocks.find(block);
  if (it == StateOf(m).blocks.end()) throw std::logic_error("release of a block not allocated here");
  m.largestSettled = std::max(m.largestSettled, it->second.size);
  const Block b = it->second;
  Unaccount(m, it);
  FreeHostBlock(block, b);
}

}  // namespace platform

namespace sim {

void FreeBlocks(State& state) {
  for (const auto& [block, b] : state.blocks) platform::FreeHostBlock(block, b);
  state.blocks.clear();
}

}  // namespace sim
