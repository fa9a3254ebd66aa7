// The layout of a setup package: the launcher image with a package appended.
// This header is the one definition of the format, shared by the launcher,
// the package tool and the tests. Every multi-byte field is little-endian and
// every position is an absolute file offset below 2^31.
//
//   offset 128            package locator (24 bytes, inside the image's DOS area)
//   headerOffset          package header (66 bytes), right after the image
//   payload offsets       raw LZMA1 streams, one per setup program
//   message offsets       UTF-16LE package messages
//   after the payloads    setup data, read only by the setup program
#ifndef LAUNCHER_PACKAGE_FORMAT_H_
#define LAUNCHER_PACKAGE_FORMAT_H_

#include <cstdint>

namespace launcher {

constexpr uint32_t kLocatorOffset = 128;
constexpr uint32_t kLocatorSize = 24;
constexpr uint32_t kLocatorRoomEnd = 256;  // 152..255 stay zero
constexpr uint32_t kHeaderSize = 66;
constexpr uint32_t kPayloadEntrySize = 12;
constexpr uint32_t kMessageReferenceSize = 6;
constexpr uint32_t kLzmaPropertiesSize = 5;
constexpr uint32_t kLimit = 0x80000000u;  // offsets and sizes stay below 2^31

// payload64.offset: no 64-bit program, and not to run on 64-bit Windows.
constexpr uint32_t kNotFor64BitWindows = 0xFFFFFFFFu;

struct PackageLocator {
  uint32_t headerOffset;  // 0: no package attached
  uint32_t crcLength;     // bytes covered by the CRC-32, from headerOffset on
  uint32_t crcValue;
  uint32_t totalSizeLow;
  uint32_t totalSizeHigh;
  uint32_t detachedSize;  // 0: not detached
};

struct PayloadEntry {
  uint32_t offset;  // 0: absent
  uint32_t compressedSize;
  uint32_t uncompressedSize;
};

struct MessageReference {
  uint32_t offset;
  uint16_t length;  // in UTF-16 code units
};

struct PackageHeader {
  uint8_t lzmaProperties[kLzmaPropertiesSize];  // properties byte, then dictionarySize
  uint64_t allowedVersions;                     // bit n: byte 5 + n/8, bit n%8
  uint8_t elevationMode;
  PayloadEntry payload32;
  PayloadEntry payload64;
  uint8_t notInterpreted[16];  // 38..41: the payload-end field (PayloadEnd)
  MessageReference architectureMessage;
  MessageReference versionMessage;
};

// Field offsets inside the header.
constexpr uint32_t kHeaderAllowedVersions = 5;
constexpr uint32_t kHeaderElevationMode = 13;
constexpr uint32_t kHeaderPayload32 = 14;
constexpr uint32_t kHeaderPayload64 = 26;
constexpr uint32_t kHeaderNotInterpreted = 38;
constexpr uint32_t kHeaderArchitectureMessage = 54;
constexpr uint32_t kHeaderVersionMessage = 60;

inline uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t LoadLe16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline void StoreLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void StoreLe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

// The payload-end field: header bytes 38..41, among the bytes the launcher
// does not interpret. The package tool writes there where the setup data
// starts (the end of the header and payloads), for the setup programs.
inline uint32_t PayloadEnd(const PackageHeader& header) { return LoadLe32(header.notInterpreted); }
inline void SetPayloadEnd(PackageHeader* header, uint32_t offset) { StoreLe32(header->notInterpreted, offset); }

PackageLocator DecodeLocator(const uint8_t bytes[kLocatorSize]);
void EncodeLocator(const PackageLocator& locator, uint8_t bytes[kLocatorSize]);
PackageHeader DecodeHeader(const uint8_t bytes[kHeaderSize]);
void EncodeHeader(const PackageHeader& header, uint8_t bytes[kHeaderSize]);

// The bits of allowedVersions and the names the launcher gives those
// versions (a version without a bit is always refused: 6.4 to 9.x).
enum VersionBit : unsigned {
  kBitWindows95 = 0,
  kBitWindows98 = 1,
  kBitWindowsMe = 2,
  kBitWindowsNt4 = 3,
  kBitWindows2000 = 4,
  kBitWindowsXp = 5,
  kBitWindowsVista = 6,  // 6.0; 6.1 to 6.3 follow it
  kBitWindows7 = 7,
  kBitWindows8 = 8,
  kBitWindows81 = 9,
  kBitWindows10 = 10,
  kVersionBitLater = 63,  // every version the table does not name
};
// The launcher's version rows, one per bit: the version numbers each names
// (the first row that matches a machine governs it) and its name. A version
// no row names is "later" (bit 63), unless it lies between two rows of one
// major version (6.4 to 6.x: no bit, always refused). FindVersionRow
// (launcher/requirements.cpp) reads this table.
enum class Platform : uint8_t { kAny, kNt, kNotNt };  // GetVersionExA's platform id
constexpr uint8_t kAnyMinor = 255;                     // every minor version from minorFrom on
struct VersionRowSpec {
  uint8_t bit;
  const char* name;
  Platform platform;
  uint8_t major;                // 0: a row that matches no version number ("later")
  uint8_t minorFrom, minorTo;   // the minor versions it covers
  bool servicePackChecked;      // Windows 2000: refused before Service Pack 4 (see CheckWindowsVersion)
};
inline constexpr VersionRowSpec kVersionRows[] = {
    {kBitWindows95, "Windows 95", Platform::kNotNt, 4, 0, 3, false},
    {kBitWindows98, "Windows 98", Platform::kNotNt, 4, 10, 10, false},
    {kBitWindowsMe, "Windows ME", Platform::kNotNt, 4, 0, kAnyMinor, false},
    {kBitWindowsNt4, "Windows NT 4", Platform::kNt, 4, 0, kAnyMinor, false},
    {kBitWindows2000, "Windows 2000", Platform::kAny, 5, 0, 0, true},
    {kBitWindowsXp, "Windows XP", Platform::kAny, 5, 0, kAnyMinor, false},
    {kBitWindowsVista, "Windows Vista", Platform::kAny, 6, 0, 0, false},
    {kBitWindows7, "Windows 7", Platform::kAny, 6, 1, 1, false},
    {kBitWindows8, "Windows 8", Platform::kAny, 6, 2, 2, false},
    {kBitWindows81, "Windows 8.1", Platform::kAny, 6, 3, 3, false},
    {kBitWindows10, "Windows 10", Platform::kAny, 10, 0, 0, false},
    {kVersionBitLater, "later", Platform::kAny, 0, 0, 0, false},
};
struct VersionAlias {
  unsigned bit;
  const char* name;
};
// Other names an author may give a version: Windows 11 reports itself as
// 10.0, and the launcher counts it as Windows 10.
inline constexpr VersionAlias kVersionAliases[] = {{kBitWindows10, "Windows 11"}};
// Every bit that names a version: a package that allows all of them.
constexpr uint64_t AllVersionBits() {
  uint64_t bits = 0;
  for (const VersionRowSpec& row : kVersionRows) bits |= uint64_t(1) << row.bit;
  return bits;
}
constexpr uint64_t kAllVersions = AllVersionBits();

// The bit of a version name or alias, ASCII letter case ignored; -1 when
// the name is unknown.
inline int VersionBitOf(const char* name) {
  auto same = [](const char* a, const char* b) {
    for (;; ++a, ++b) {
      const char x = (*a >= 'A' && *a <= 'Z') ? char(*a + 32) : *a;
      const char y = (*b >= 'A' && *b <= 'Z') ? char(*b + 32) : *b;
      if (x != y) return false;
      if (x == 0) return true;
    }
  };
  for (const VersionRowSpec& v : kVersionRows) {
    if (same(v.name, name)) return static_cast<int>(v.bit);
  }
  for (const VersionAlias& v : kVersionAliases) {
    if (same(v.name, name)) return static_cast<int>(v.bit);
  }
  return -1;
}
// The name of a bit (nullptr for a bit that names no version).
inline const char* VersionName(unsigned bit) {
  for (const VersionRowSpec& v : kVersionRows) {
    if (v.bit == bit) return v.name;
  }
  return nullptr;
}

// elevationMode: how the setup program is started from Vista on, without
// administrator rights, when a silent switch is given.
constexpr uint8_t kElevationPlain = 0;    // an ordinary shell start
constexpr uint8_t kElevationRunAs = 1;    // the "runas" verb
constexpr uint8_t kElevationNoAdmin = 2;  // "/noadmin" appended

// Whether the package holds a 64-bit program (payload64 names a stream).
inline bool HasPayload64(const PackageHeader& header) {
  return header.payload64.offset != 0 && header.payload64.offset != kNotFor64BitWindows;
}

inline uint32_t DictionarySize(const PackageHeader& header) {
  return LoadLe32(header.lzmaProperties + 1);
}
inline bool VersionAllowed(const PackageHeader& header, unsigned bit) {
  return (header.allowedVersions >> bit) & 1u;
}
inline uint64_t TotalSize(const PackageLocator& locator) {
  return uint64_t(locator.totalSizeHigh) << 32 | locator.totalSizeLow;
}

// Whether the launcher reports a file of `actual` bytes as truncated: a
// detached package's size against the low 32 bits of the file's size, any
// other package's total size against the file's as signed 64-bit numbers (a
// total of 2^63 or more passes).
inline bool IsTruncated(const PackageLocator& locator, uint64_t actual) {
  if (locator.detachedSize != 0) return locator.detachedSize > static_cast<uint32_t>(actual);
  return static_cast<int64_t>(TotalSize(locator)) > static_cast<int64_t>(actual);
}

}  // namespace launcher

#endif  // LAUNCHER_PACKAGE_FORMAT_H_
