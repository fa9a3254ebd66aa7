// A program's head, kept as its bytes pass or read from its file.
#include "tools/packaging/program_head.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "host/pe_image.h"
#include "host/system/memory.h"
#include "launcher/package_format.h"

namespace packaging {

namespace {

// A PE header at least this far into the program is kept without the bytes
// before it.
constexpr uint64_t kFarHeader = uint64_t(64) << 10;

}  // namespace

void ProgramHead::Take(const uint8_t* bytes, size_t count) {
  for (size_t at = 0; at < count;) {
    const uint64_t position = seen_ + at;
    if (position < sizeof dos_) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(count - at, sizeof dos_ - position));
      std::memcpy(dos_ + position, bytes + at, n);
      at += n;
      size_ = static_cast<size_t>(seen_ + at);
      if (size_ < sizeof dos_) continue;
      // The whole DOS header: room for the most its PE header's offset can
      // make the head need, in pages that are only backed where written.
      const size_t room = size_t(launcher::LoadLe32(dos_ + 60)) + 24 + 0xFFFF + 40 * 0xFFFF;
      void* block = sys::MapBlock(room);
      if (block == nullptr) throw std::bad_alloc();
      block_ = std::shared_ptr<uint8_t>(static_cast<uint8_t*>(block), [room](uint8_t* p) { sys::FreeBlock(p, room); });
      std::memcpy(block_.get(), dos_, sizeof dos_);
      continue;
    }
    const host::ByteView view = View();
    const uint64_t needed = pe::HeadNeeded(view);
    if (size_ >= needed) break;
    const uint64_t pe = launcher::LoadLe32(dos_ + 60);
    if (pe >= kFarHeader && position < pe) {  // between the DOS header and a far PE header
      at += static_cast<size_t>(std::min<uint64_t>(count - at, pe - position));
      continue;
    }
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count - at, needed - position));
    std::memcpy(block_.get() + position, bytes + at, n);
    size_ = static_cast<size_t>(position + n);
    at += n;
  }
  seen_ += count;
}

uint64_t ProgramHead::Wanted(uint64_t position) const {
  if (position < sizeof dos_) return position;
  if (size_ >= pe::HeadNeeded(View())) return UINT64_MAX;
  const uint64_t pe = launcher::LoadLe32(dos_ + 60);
  return pe >= kFarHeader && position < pe ? pe : position;
}

bool ProgramHead::Read(const PieceSource& program, std::string* error) {
  uint8_t piece[4096];
  for (;;) {
    const uint64_t wanted = Wanted(seen_);
    if (wanted >= program.size) return true;
    seen_ = wanted;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof piece, program.size - wanted));
    if (!program.read(wanted, piece, n, error)) return false;
    Take(piece, n);
  }
}

}  // namespace packaging
