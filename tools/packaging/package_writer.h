// Writes setup packages: a launcher image with a package appended, its
// parts compressed as they are read (lzma_encoder) and its CRC and layout
// taken as they pass. The tests' in-memory builder (tests/helpers/
// package_builder.h) writes through it too.
#ifndef TOOLS_PACKAGING_PACKAGE_WRITER_H_
#define TOOLS_PACKAGING_PACKAGE_WRITER_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/bytes.h"
#include "launcher/package_format.h"
#include "tools/packaging/lzma_encoder.h"

namespace packaging {

// How far the CRC-32 reaches from the header on.
enum class CrcReach { kHeaderAndPayloads, kWholePackage, kByteCount };

// Everything a package is made from but its big parts.
struct PackageSettings {
  Bytes image;  // the launcher image; the header goes right after its last section
  bool notFor64BitWindows = false;  // needs program32 and no program64
  std::u16string architectureMessage;
  std::u16string versionMessage;
  uint64_t allowedVersions = ~uint64_t(0);
  uint8_t elevationMode = 0;
  bool detached = false;
  CrcReach crcReach = CrcReach::kHeaderAndPayloads;
  uint32_t crcByteCount = 0;  // with kByteCount
  LzmaSettings lzma;
  // With two programs and 2 or more: both are compressed at once (the bytes
  // are the same as with 1), the second into a SpillStore until the first
  // is written.
  unsigned threads = 1;
};

// Where the second program's stream waits while the first is compressed:
// appended to, then read back in order. False when it cannot be written or
// read (Reason says why).
class SpillStore {
 public:
  virtual ~SpillStore() = default;
  virtual bool Append(const uint8_t* bytes, size_t count) = 0;
  virtual bool Read(uint64_t offset, uint8_t* bytes, size_t count) = 0;
  virtual std::string Reason() const = 0;
};

// The big parts, read as they are written.
struct PackageParts {
  std::optional<PieceSource> program32;
  std::optional<PieceSource> program64;
  PieceSource setupData;
};

// Where the written package's records and parts lie.
struct PackageLayout {
  launcher::PackageLocator locator{};
  launcher::PackageHeader header{};
  uint64_t size = 0;
  uint32_t payloadEnd = 0;
  uint32_t setupDataOffset = 0;
  uint32_t messagesOffset = 0;
};

// Where WritePackage puts a package: appended in order, then the records
// written over the room left for them. False when the bytes could not be
// written (the sink keeps the reason).
class PackageSink {
 public:
  virtual ~PackageSink() = default;
  virtual bool Append(const uint8_t* bytes, size_t count) = 0;
  virtual bool Put(uint64_t offset, const uint8_t* bytes, size_t count) = 0;
  virtual std::string Reason() const = 0;
};

enum class WriteResult {
  kWritten,
  kRefused,             // the input cannot make a package (*error says why)
  kInputOutputFailed,   // a part could not be read or the sink not written
};

// Lays out the package and writes it into `sink` in one pass, its parts
// read and compressed piece by piece (nothing is held whole) and its CRC
// taken as they pass. Refuses sizes or offsets at or past 2 GiB and what the
// locator cannot say.
// With `spill` (and settings.threads of 2 or more) both programs compress
// at once.
WriteResult WritePackage(const PackageSettings& settings, const PackageParts& parts, PackageSink* sink,
                         PackageLayout* out, std::string* error, SpillStore* spill = nullptr);

// Where the package starts: the end of the image's last section, or the whole
// image when it is no PE image (test images).
uint32_t PackageStart(const Bytes& image);

// The locator's sizes for a package of `size` bytes whose header is at
// `start` and whose payloads end at `payloadEnd`: the CRC region as
// `in.crcReach` says, the total size and the detached size. False with a
// reason for what the format cannot say (a CRC region reaching 2 GiB, a
// detached package of 4 GiB or more).
bool LocatorSizes(const PackageSettings& in, uint32_t start, uint64_t payloadEnd, uint64_t size,
                  launcher::PackageLocator* locator, std::string* error);

}  // namespace packaging

#endif  // TOOLS_PACKAGING_PACKAGE_WRITER_H_
