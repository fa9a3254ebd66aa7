// A file's or a buffer's bytes, as every host tool passes them.
#ifndef HOST_BYTES_H_
#define HOST_BYTES_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace host {

using Bytes = std::vector<uint8_t>;

// Bytes held elsewhere (a vector, a mapped file), read only; the holder
// keeps them alive for as long as the view is used.
class ByteView {
 public:
  ByteView() = default;
  ByteView(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  ByteView(const Bytes& bytes) : data_(bytes.data()), size_(bytes.size()) {}  // NOLINT: a view of any vector

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const uint8_t& operator[](size_t i) const { return data_[i]; }
  const uint8_t* begin() const { return data_; }
  const uint8_t* end() const { return data_ + size_; }
  // The first `count` bytes (all of them when there are fewer).
  ByteView First(size_t count) const { return ByteView(data_, count < size_ ? count : size_); }
  Bytes ToBytes() const { return Bytes(begin(), end()); }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// Little-endian numbers in bytes: read or written at `at` (which the caller
// has checked lies inside), or appended.
inline uint16_t Le16(ByteView b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
inline uint32_t Le32(ByteView b, size_t at) { return uint32_t(Le16(b, at)) | uint32_t(Le16(b, at + 2)) << 16; }
inline void PutLe16(Bytes* out, size_t at, uint32_t v) {
  (*out)[at] = uint8_t(v);
  (*out)[at + 1] = uint8_t(v >> 8);
}
inline void PutLe32(Bytes* out, size_t at, uint32_t v) {
  PutLe16(out, at, v & 0xFFFF);
  PutLe16(out, at + 2, v >> 16);
}
inline void AppendLe16(Bytes* out, uint32_t v) {
  out->push_back(uint8_t(v));
  out->push_back(uint8_t(v >> 8));
}
inline void AppendLe32(Bytes* out, uint32_t v) {
  AppendLe16(out, v & 0xFFFF);
  AppendLe16(out, v >> 16);
}

}  // namespace host

#endif  // HOST_BYTES_H_
