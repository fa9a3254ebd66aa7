// Writes setup packages: a launcher image with a package appended. Shared by
// the package tool and the tests; every field can be overridden after the
// layout is made, so tests can build damaged packages on purpose.
#ifndef TOOLS_PACKAGING_PACKAGE_WRITER_H_
#define TOOLS_PACKAGING_PACKAGE_WRITER_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/bytes.h"
#include "launcher/package_format.h"

namespace packaging {

using Bytes = host::Bytes;

struct LzmaSettings {
  uint32_t preset = 6;
  uint32_t dictionarySize = 1u << 22;
  uint32_t lc = 3, lp = 0, pb = 2;
  bool endMarker = false;  // the launcher needs none
  // Called now and then while compressing with the bytes done so far.
  std::function<void(uint64_t done, uint64_t total)> progress;
};

// How far the CRC-32 reaches from the header on.
enum class CrcReach { kHeaderAndPayloads, kWholePackage, kByteCount };

struct PackageInput {
  Bytes image;  // the launcher image; the header goes right after its last section
  std::optional<Bytes> program32;
  std::optional<Bytes> program64;
  bool notFor64BitWindows = false;  // needs program32 and no program64
  std::u16string architectureMessage;
  std::u16string versionMessage;
  Bytes setupData;
  uint64_t allowedVersions = ~uint64_t(0);
  uint8_t elevationMode = 0;
  bool detached = false;
  CrcReach crcReach = CrcReach::kHeaderAndPayloads;
  uint32_t crcByteCount = 0;  // with kByteCount
  LzmaSettings lzma;
  // Called with the finished records before they are written; the CRC is
  // computed before the call, so changes to covered bytes break it on purpose
  // unless recomputeCrc is set.
  std::function<void(launcher::PackageLocator&, launcher::PackageHeader&)> adjust;
  bool recomputeCrcAfterAdjust = true;
};

struct BuiltPackage {
  Bytes bytes;
  launcher::PackageLocator locator{};
  launcher::PackageHeader header{};
  uint32_t payloadEnd = 0;
  uint32_t setupDataOffset = 0;
  uint32_t messagesOffset = 0;
};

// Compresses `data` as a raw LZMA1 stream. False with *error on failure.
bool CompressLzma1(const Bytes& data, const LzmaSettings& settings, Bytes* out, std::string* error);

// Where the package starts: the end of the image's last section, or the whole
// image when it is no PE image (test images).
uint32_t PackageStart(const Bytes& image);

// Lays out and writes the package. False with *error when the input cannot
// make a package (sizes or offsets at or past 2 GiB, compression failure).
bool BuildPackage(const PackageInput& input, BuiltPackage* out, std::string* error);

// Recomputes the CRC over the bytes the locator covers and stores it (in the
// locator record and in the file bytes).
void UpdateCrc(BuiltPackage* package);

// Writes the locator and header records into the file bytes again.
void WriteRecords(BuiltPackage* package);

// The locator's sizes for a package of `size` bytes whose header is at
// `start` and whose payloads end at `payloadEnd`: the CRC region as
// `in.crcReach` says, the total size and the detached size. False with a
// reason for what the format cannot say (a CRC region reaching 2 GiB, a
// detached package of 4 GiB or more).
bool LocatorSizes(const PackageInput& in, uint32_t start, uint64_t payloadEnd, uint64_t size,
                  launcher::PackageLocator* locator, std::string* error);

}  // namespace packaging

#endif  // TOOLS_PACKAGING_PACKAGE_WRITER_H_
