// The writer's limits: what the sizes known ahead break is refused before a
// byte is read or written; the exact edges after writing.
#include <gtest/gtest.h>

#include "tests/helpers/package_builder.h"
#include "tools/packaging/package_writer.h"

namespace {

using packaging::Bytes;

struct CountingSink : packaging::PackageSink {
  uint64_t appended = 0;
  bool Append(const uint8_t*, size_t n) override { return appended += n, true; }
  bool Put(uint64_t, const uint8_t*, size_t) override { return true; }
  std::string Reason() const override { return ""; }
};

// A part of `size` bytes of zeros that counts what is read of it.
packaging::PieceSource Zeros(uint64_t size, uint64_t* read) {
  return {size, [read](uint64_t, uint8_t* p, size_t n, std::string*) {
            std::fill(p, p + n, 0);
            *read += n;
            return true;
          }};
}

TEST(PackageWriterTest, LimitsTheSizesBreakAreRefusedBeforeWriting) {
  struct Case {
    const char* name;
    uint64_t setupData;
    std::function<void(packaging::PackageSettings&)> set;
    const char* says;
  };
  const uint64_t k2Gib = uint64_t(1) << 31;
  const Case cases[] = {
      {"message after 2 GiB of setup data", k2Gib, [](auto& s) { s.versionMessage = u"too far"; }, "message would lie past 2 GiB"},
      {"whole-package CRC over 2 GiB", k2Gib, [](auto& s) { s.crcReach = packaging::CrcReach::kWholePackage; },
       "CRC region would reach past 2 GiB"},
      {"CRC byte count to 2 GiB", 0, [](auto& s) {
         s.crcReach = packaging::CrcReach::kByteCount;
         s.crcByteCount = 0x80000000u - 512;  // the header at 512
       }, "CRC region would reach past 2 GiB"},
      {"detached at 4 GiB", uint64_t(1) << 32, [](auto& s) { s.detached = true; }, "smaller than 4 GiB"},
  };
  for (const Case& c : cases) {
    packaging::PackageSettings settings;
    settings.image = Bytes(512, 0);
    c.set(settings);
    uint64_t read = 0;
    packaging::PackageParts parts;
    parts.program32 = packaging::InMemory(Bytes(100, 1));
    parts.setupData = Zeros(c.setupData, &read);
    CountingSink sink;
    packaging::PackageLayout layout;
    std::string error;
    EXPECT_EQ(packaging::WritePackage(settings, parts, &sink, &layout, &error), packaging::WriteResult::kRefused) << c.name;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.name << ": " << error;
    EXPECT_EQ(read + sink.appended, 0u) << c.name << ": refused only after writing";
  }
}

}  // namespace
