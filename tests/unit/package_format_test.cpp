#include <gtest/gtest.h>

#include "launcher/package_format.h"
#include "tests/helpers/package_builder.h"

namespace {

// The locator and header bytes of a complete package of 16,820,289 bytes.
const uint8_t kLocator[24] = {0x00, 0x04, 0x03, 0x00, 0x52, 0xc8, 0x07, 0x00, 0x08, 0x7b, 0x60, 0xa9,
                              0x41, 0xa8, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

std::vector<uint8_t> ExampleHeader() {
  std::vector<uint8_t> h = {0x5d, 0x00, 0x00, 0x40, 0x00, 0xfe, 0x07, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x80, 0x01, 0x42, 0x04, 0x03, 0x00,
                            0x5a, 0x99, 0x07, 0x00, 0x00, 0x5a, 0x12, 0x00};
  h.resize(38, 0);
  h.insert(h.end(), {0x9c, 0x9d, 0x0a, 0x00});
  h.resize(66, 0);
  return h;
}

TEST(PackageFormatTest, ExampleLocatorFields) {
  const launcher::PackageLocator l = launcher::DecodeLocator(kLocator);
  EXPECT_EQ(l.headerOffset, 197632u);
  EXPECT_EQ(l.crcLength, 510034u);
  EXPECT_EQ(l.crcValue, 0xA9607B08u);
  EXPECT_EQ(l.totalSizeLow, 16820289u);
  EXPECT_EQ(l.totalSizeHigh, 0u);
  EXPECT_EQ(l.detachedSize, 0u);
  EXPECT_EQ(launcher::TotalSize(l), 16820289u);
}

TEST(PackageFormatTest, ExampleHeaderFields) {
  const std::vector<uint8_t> bytes = ExampleHeader();
  const launcher::PackageHeader h = launcher::DecodeHeader(bytes.data());
  EXPECT_EQ(h.lzmaProperties[0], 0x5D);
  EXPECT_EQ(launcher::DictionarySize(h), 0x400000u);
  EXPECT_EQ(h.allowedVersions, 0x80000000000007FEull);
  for (unsigned bit = 0; bit < 64; ++bit) {
    EXPECT_EQ(launcher::VersionAllowed(h, bit), (bit >= 1 && bit <= 10) || bit == 63) << bit;
  }
  EXPECT_EQ(h.elevationMode, 1);
  EXPECT_EQ(h.payload32.offset, 197698u);
  EXPECT_EQ(h.payload32.compressedSize, 498010u);
  EXPECT_EQ(h.payload32.uncompressedSize, 1202688u);
  EXPECT_EQ(h.payload64.offset, 0u);
  EXPECT_EQ(h.payload64.compressedSize, 0u);
  EXPECT_EQ(launcher::PayloadEnd(h), 695708u);
  EXPECT_EQ(h.architectureMessage.offset, 0u);
  EXPECT_EQ(h.versionMessage.length, 0u);
}

// Encoding is the exact inverse of decoding, for every byte of the records.
TEST(PackageFormatTest, EncodeRoundTrips) {
  std::vector<uint8_t> header(66);
  for (size_t i = 0; i < header.size(); ++i) header[i] = static_cast<uint8_t>(i * 37 + 11);
  uint8_t again[66];
  launcher::EncodeHeader(launcher::DecodeHeader(header.data()), again);
  EXPECT_EQ(std::vector<uint8_t>(again, again + 66), header);
  uint8_t locator[24];
  launcher::EncodeLocator(launcher::DecodeLocator(kLocator), locator);
  EXPECT_EQ(std::vector<uint8_t>(locator, locator + 24), std::vector<uint8_t>(kLocator, kLocator + 24));
}

// What the locator cannot say is refused when a package is made: a CRC
// region over the whole of a package past 2 GiB (its 32-bit length would
// wrap), a detached package of 4 GiB or more (its size would wrap, to 0 =
// not detached at exactly 4 GiB). A total size past 4 GiB is fine.
TEST(LocatorSizes, WhatTheFormatCannotSayIsRefused) {
  using packaging::CrcReach;
  struct Case {
    CrcReach reach;
    bool detached;
    uint64_t size;
    bool ok;
  };
  const Case cases[] = {
      {CrcReach::kWholePackage, false, (uint64_t(4) << 30) + 100, false},
      {CrcReach::kWholePackage, false, (uint64_t(2) << 30) - 1, true},
      {CrcReach::kHeaderAndPayloads, true, uint64_t(4) << 30, false},
      {CrcReach::kHeaderAndPayloads, true, (uint64_t(4) << 30) - 1, true},
      {CrcReach::kHeaderAndPayloads, false, uint64_t(5) << 30, true},
  };
  for (const Case& c : cases) {
    packaging::PackageInput in;
    in.crcReach = c.reach;
    in.detached = c.detached;
    launcher::PackageLocator l{};
    std::string error;
    EXPECT_EQ(packaging::LocatorSizes(in, 49152, 60000, c.size, &l, &error), c.ok) << c.size << error;
    if (!c.ok) continue;
    EXPECT_EQ(launcher::TotalSize(l), c.size);
    EXPECT_EQ(l.detachedSize, c.detached ? uint32_t(c.size) : 0u);
  }
}

}  // namespace
