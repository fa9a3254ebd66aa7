// The package written into its file piece by piece, its checksum taken as it goes.
#include "tools/package_tool/file_sink.h"

#include <vector>

namespace tool {

bool FileSink::WriteAt(uint64_t offset, const uint8_t* bytes, size_t count) {
  return error_.empty() && sys::WriteAt(file_, offset, bytes, count, &error_);
}

bool FileSink::Append(const uint8_t* bytes, size_t count) {
  sum_.Add(size_, bytes, count);
  size_ += count;
  return WriteAt(size_ - count, bytes, count);
}

bool FileSink::Put(uint64_t offset, const uint8_t* bytes, size_t count) {
  // What is written over leaves the checksum.
  std::vector<uint8_t> old(count);
  for (size_t done = 0; error_.empty() && done < count;) {
    const int64_t n = sys::ReadAt(file_, offset + done, old.data() + done, count - done, &error_);
    if (n == 0) error_ = "the file shrank while it was being written";
    if (n > 0) done += size_t(n);
  }
  if (!error_.empty()) return false;
  sum_.Remove(offset, old.data(), count);
  sum_.Add(offset, bytes, count);
  return WriteAt(offset, bytes, count);
}

std::string FileSink::Reason() const { return path_ + ": " + error_; }

bool FileSink::Finish() {
  const uint32_t value = sum_.Value(size_);
  const uint8_t field[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
  return WriteAt(checkSumOffset_, field, sizeof field);
}

bool ScratchSpill::Append(const uint8_t* bytes, size_t count) {
  std::string why;
  if (!sys::WriteAt(file_, size_, bytes, count, &why)) return error_ = "a scratch file beside the output: " + why, false;
  size_ += count;
  return true;
}

bool ScratchSpill::Read(uint64_t offset, uint8_t* bytes, size_t count) {
  std::string why;
  for (size_t done = 0; done < count;) {
    const int64_t n = sys::ReadAt(file_, offset + done, bytes + done, count - done, &why);
    if (n <= 0) return error_ = "a scratch file beside the output: " + (n < 0 ? why : "it ended early"), false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace tool
