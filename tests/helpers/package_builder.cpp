#include "tests/helpers/package_builder.h"

#include <algorithm>

#include "launcher/crc32.h"
#include "launcher/package.h"

namespace packaging {

PieceSource InMemory(const Bytes& bytes) {
  PieceSource source;
  source.size = bytes.size();
  source.read = [&bytes](uint64_t offset, uint8_t* to, size_t count, std::string*) {
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), count, to);
    return true;
  };
  return source;
}

namespace {

class MemorySink : public PackageSink {
 public:
  explicit MemorySink(Bytes* bytes) : bytes_(bytes) {}
  bool Append(const uint8_t* p, size_t n) override {
    bytes_->insert(bytes_->end(), p, p + n);
    return true;
  }
  bool Put(uint64_t offset, const uint8_t* p, size_t n) override {
    std::copy_n(p, n, bytes_->begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
  }
  std::string Reason() const override { return ""; }

 private:
  Bytes* bytes_;
};

}  // namespace

bool CompressLzma1(const Bytes& data, const LzmaSettings& s, Bytes* out, std::string* error) {
  out->clear();
  return CompressLzma1(InMemory(data), s, [out](const uint8_t* p, size_t n) {
    out->insert(out->end(), p, p + n);
    return true;
  }, error);
}

void WriteRecords(BuiltPackage* p) {
  launcher::EncodeLocator(p->locator, p->bytes.data() + launcher::kLocatorOffset);
  if (p->locator.headerOffset != 0 && p->locator.headerOffset + uint64_t(launcher::kHeaderSize) <= p->bytes.size()) {
    launcher::EncodeHeader(p->header, p->bytes.data() + p->locator.headerOffset);
  }
}

void UpdateCrc(BuiltPackage* p) {
  launcher::BuildCrcTable();
  const uint64_t start = p->locator.headerOffset;
  const uint64_t end = std::min<uint64_t>(start + p->locator.crcLength, p->bytes.size());
  p->locator.crcValue = start < end ? launcher::Crc32(p->bytes.data() + start, end - start) : 0;
  launcher::EncodeLocator(p->locator, p->bytes.data() + launcher::kLocatorOffset);
}

bool BuildPackage(const PackageInput& in, BuiltPackage* out, std::string* error) {
  *out = BuiltPackage();
  PackageParts parts;
  if (in.program32) parts.program32 = InMemory(*in.program32);
  if (in.program64) parts.program64 = InMemory(*in.program64);
  parts.setupData = InMemory(in.setupData);
  MemorySink sink(&out->bytes);
  if (WritePackage(in, parts, &sink, out, error) != WriteResult::kWritten) return false;
  if (in.adjust) {
    in.adjust(out->locator, out->header);
    WriteRecords(out);
    if (in.recomputeCrcAfterAdjust) UpdateCrc(out);
  }
  return true;
}

}  // namespace packaging
