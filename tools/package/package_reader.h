// Reads a package back: its records, its layout as a map of the file, and
// the problems in it. Decoding goes through the launcher's own code on the
// simulated machine, so the tool sees a package exactly as the launcher does.
#ifndef TOOLS_PACKAGE_PACKAGE_READER_H_
#define TOOLS_PACKAGE_PACKAGE_READER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "launcher/package_format.h"
#include "tools/package/package_writer.h"

namespace packaging {

enum class RegionKind {
  kLauncherImage,
  kPackageHeader,
  kPayload32,
  kPayload64,
  kArchitectureMessage,
  kVersionMessage,
  kSetupData,
  kAfterTheRecordedEnd,
  kSignature,  // a certificate table after the recorded end
};
// The kind's words, as the tool prints them ("32-bit payload", ...).
const char* RegionName(RegionKind kind);

struct Region {
  RegionKind kind;
  uint64_t start;
  uint64_t end;  // exclusive
  std::string name() const { return RegionName(kind); }
};

struct PackageView {
  uint64_t fileSize = 0;
  bool hasPackage = false;  // the locator names a header
  launcher::PackageLocator locator{};
  launcher::PackageHeader header{};
  bool headerRead = false;
  uint32_t computedCrc = 0;
  bool crcMatches = false;
  uint64_t recordedSize = 0;
  std::u16string architectureMessage, versionMessage;
  std::vector<Region> regions;  // sorted by start
  std::vector<std::string> problems;
  std::vector<std::string> problemCodes;  // one per problem: "crc-mismatch", "truncated", ...
  uint32_t lc = 0, lp = 0, pb = 0;
  std::optional<Region> signature;  // a certificate table after the recorded end
};

// Never fails: what cannot be read is reported in problems.
PackageView ReadPackage(const Bytes& file);

// Decodes the payload of `entry` with the launcher's own step. False with
// the message the launcher would show.
bool DecodeEntry(const Bytes& file, const launcher::PayloadEntry& entry, Bytes* program, std::string* message);

// The most a tool decodes of one payload (1 GiB): a stream that claims more is
// reported, not decoded.
constexpr uint64_t kDecodeLimit = uint64_t(1) << 30;

// Whether `entry` claims more than kDecodeLimit (sizes at or past 2 GiB are
// refused by the launcher itself, so they are not beyond the limit).
bool BeyondDecodeLimit(const launcher::PayloadEntry& entry);

struct Decoded {
  bool ok = false;
  bool beyondLimit = false;  // not decoded: it claims more than kDecodeLimit
  std::string message;       // when not ok: what the launcher would show
  Bytes program;
};
Decoded DecodeWithinLimit(const Bytes& file, const launcher::PayloadEntry& entry);

// Problems of the decoded programs: each payload decoded (within the limit)
// and its program checked against its slot (i386 for the 32-bit one, x86-64
// for the 64-bit one). Appended to view->problems; the programs are handed
// back for callers that need them (empty when not decoded).
void CheckPrograms(const Bytes& file, PackageView* view, Bytes* program32, Bytes* program64);

// The bit of the allowed-version set for a version name ("Windows XP",
// "later", ...; launcher::kVersionNames), letter case ignored, "Windows 11"
// as Windows 10's; -1 when unknown.
int VersionBit(const std::string& name);

}  // namespace packaging

#endif  // TOOLS_PACKAGE_PACKAGE_READER_H_
