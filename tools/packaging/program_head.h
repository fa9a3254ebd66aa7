// The start of a decoded or given program, as far as the checks of
// host/pe_image read it, held without what lies between its headers.
#ifndef TOOLS_PACKAGING_PROGRAM_HEAD_H_
#define TOOLS_PACKAGING_PROGRAM_HEAD_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/bytes.h"
#include "tools/packaging/package_writer.h"

namespace packaging {

// Programs from this size on show progress while they are compressed or
// decoded.
constexpr uint64_t kProgressFrom = uint64_t(4) << 20;

// Pieces of a decoded program, handed on as they are decoded.
using PieceSink = std::function<void(const uint8_t* bytes, size_t count)>;

// The start of a program, as far as pe::HeadNeeded, taken as its bytes pass
// while it is decoded, or read from its file. What no check reads, the bytes
// between the DOS header and a PE header far into the program, is not held:
// it reads as zeros from pages never written, so a header at 1 GiB costs a
// few pages.
class ProgramHead {
 public:
  void Take(const uint8_t* bytes, size_t count);  // the program's next bytes
  // Reads the head of a whole program from `program`, passing over what it
  // does not keep; false with *error when it cannot be read.
  bool Read(const PieceSource& program, std::string* error);
  host::ByteView View() const { return host::ByteView(block_ ? block_.get() : dos_, size_); }
  void Clear() { block_.reset(), size_ = 0, seen_ = 0; }

 private:
  // The offset of the first byte from `position` on that the head keeps,
  // or UINT64_MAX when it is whole.
  uint64_t Wanted(uint64_t position) const;

  uint8_t dos_[64] = {};            // the head while it is shorter than the DOS header
  std::shared_ptr<uint8_t> block_;  // then: room for the most a head can need
  size_t size_ = 0;                 // the head's length so far
  uint64_t seen_ = 0;               // the program's bytes taken so far
};

}  // namespace packaging

#endif  // TOOLS_PACKAGING_PROGRAM_HEAD_H_
