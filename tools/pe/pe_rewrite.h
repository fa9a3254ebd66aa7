// Rewriting the parts of a PE image that the tools change: the PE checksum
// (also taken in pieces, for a package never held whole), the room for the
// package locator, and a signature that no longer covers the file.
#ifndef TOOLS_PE_PE_REWRITE_H_
#define TOOLS_PE_PE_REWRITE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "host/pe_image.h"

namespace pe {

// The PE checksum over `image`, with its checksum field taken as zero.
uint32_t Checksum(host::ByteView image, uint32_t checkSumOffset);

// The PE checksum of a file taken in pieces, for a file never held whole:
// bytes are added at their offsets in any order, and taken away again when
// they are written over; the checksum field is left out.
class ChecksumSum {
 public:
  explicit ChecksumSum(uint32_t checkSumOffset) : checkSumOffset_(checkSumOffset) {}
  void Add(uint64_t offset, const uint8_t* bytes, size_t count) { Sum(offset, bytes, count, false); }
  void Remove(uint64_t offset, const uint8_t* bytes, size_t count) { Sum(offset, bytes, count, true); }
  // The checksum of a file of `fileSize` bytes that holds what was added.
  uint32_t Value(uint64_t fileSize) const;

 private:
  void Sum(uint64_t offset, const uint8_t* bytes, size_t count, bool remove);
  uint32_t checkSumOffset_;
  uint64_t sum_ = 0;  // of the 16-bit words, modulo 0xFFFF
  bool nonzero_ = false;
};

// Moves the PE headers to offset 256, writes a DOS stub that ends before
// offset 128, zeroes 128..255 (the room for the package locator), marks the
// image large-address aware and recomputes the checksum.
bool MakeLocatorRoom(std::vector<uint8_t>* image, std::string* error);

// Clears the certificate-table entry (a signature that no longer covers the
// file) and recomputes the checksum over the whole of `file`. False when it
// is no PE32 image.
bool ClearSignatureAndChecksum(std::vector<uint8_t>* file);

}  // namespace pe

#endif  // TOOLS_PE_PE_REWRITE_H_
