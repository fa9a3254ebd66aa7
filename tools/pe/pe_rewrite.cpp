// The PE checksum, the locator room and a stale signature's removal.
#include "tools/pe/pe_rewrite.h"

#include <algorithm>
#include <cstring>

namespace pe {

namespace {

void UpdateChecksum(std::vector<uint8_t>* b, const ImageInfo& info) {
  host::PutLe32(b, info.checkSumOffset, 0);
  host::PutLe32(b, info.checkSumOffset, Checksum(*b, info.checkSumOffset));
}

// A DOS program that prints its message and ends with code 1.
const uint8_t kStubCode[] = {0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09,
                             0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
const char kStubMessage[] = "This program must be run under Win32\r\n$";

}  // namespace

uint32_t Checksum(host::ByteView b, uint32_t checkSumOffset) {
  ChecksumSum sum(checkSumOffset);
  sum.Add(0, b.data(), b.size());
  return sum.Value(b.size());
}

// The sum is of little-endian 16-bit words with an end-around carry, which
// is addition modulo 0xFFFF except that a sum of nonzero words that comes to
// a multiple of 0xFFFF is written 0xFFFF, never 0.
void ChecksumSum::Sum(uint64_t offset, const uint8_t* bytes, size_t count, bool remove) {
  for (size_t i = 0; i < count; ++i) {
    const uint64_t at = offset + i;
    const uint64_t word = at & ~uint64_t(1);
    if (word == checkSumOffset_ || word == uint64_t(checkSumOffset_) + 2) continue;
    const uint32_t value = uint32_t(bytes[i]) << (8 * (at & 1));
    sum_ += remove ? 0xFFFF - value : value;
    nonzero_ = nonzero_ || (value != 0 && !remove);
  }
  sum_ %= 0xFFFF;
}

uint32_t ChecksumSum::Value(uint64_t fileSize) const {
  const uint32_t folded = sum_ == 0 && nonzero_ ? 0xFFFF : static_cast<uint32_t>(sum_);
  return static_cast<uint32_t>(folded + fileSize);
}

bool MakeLocatorRoom(std::vector<uint8_t>* image, std::string* error) {
  ImageInfo info;
  if (!Parse(*image, &info, error)) return false;
  constexpr uint32_t kNewPe = 0x100;
  const uint32_t span = info.headersEnd - info.peOffset;
  if (info.peOffset != kNewPe) {
    uint32_t firstRaw = info.sizeOfHeaders;
    for (const Section& s : info.sections) {
      if (s.rawSize != 0 && s.rawPointer < firstRaw) firstRaw = s.rawPointer;
    }
    if (kNewPe + span > firstRaw) return *error = "no room to move the PE headers to 0x100", false;
    std::vector<uint8_t> headers(image->begin() + info.peOffset, image->begin() + info.headersEnd);
    std::fill(image->begin() + 64, image->begin() + firstRaw, 0);
    std::copy(headers.begin(), headers.end(), image->begin() + kNewPe);
  }
  std::fill(image->begin() + 64, image->begin() + kNewPe, 0);
  // DOS header: one 512-byte page of which 128 bytes are used, 4 paragraphs
  // of header, and the stub right behind it.
  host::PutLe16(image, 2, 128);
  host::PutLe16(image, 4, 1);
  host::PutLe16(image, 8, 4);
  host::PutLe16(image, 24, 64);
  host::PutLe32(image, 60, kNewPe);
  std::memcpy(image->data() + 64, kStubCode, sizeof kStubCode);
  std::memcpy(image->data() + 64 + sizeof kStubCode, kStubMessage, sizeof kStubMessage - 1);
  if (!Parse(*image, &info, error)) return false;
  host::PutLe16(image, info.peOffset + 4 + 18, info.characteristics | kLargeAddressAware);
  UpdateChecksum(image, info);
  return true;
}

bool ClearSignatureAndChecksum(std::vector<uint8_t>* file) {
  ImageInfo info;
  std::string error;
  if (!Parse(*file, &info, &error)) return false;
  if (info.securityEntry != 0) {
    host::PutLe32(file, info.securityEntry, 0);
    host::PutLe32(file, info.securityEntry + 4, 0);
  }
  UpdateChecksum(file, info);
  return true;
}

}  // namespace pe
