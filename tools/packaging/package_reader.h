// Reads a package back: its records, its layout as a map of the file, and
// the problems in it, each by the launcher's own rule. Its programs are
// decoded and checked by program_check.h.
#ifndef TOOLS_PACKAGING_PACKAGE_READER_H_
#define TOOLS_PACKAGING_PACKAGE_READER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/bytes.h"
#include "launcher/package_format.h"
#include "tools/packaging/codes.h"
#include "tools/packaging/package_writer.h"

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
  uint64_t headerAndPayloadsEnd = 0;  // where the header and the payloads end (with the header read)
  std::optional<Region> signature;  // a certificate table after the recorded end
};

// Never fails: what cannot be read is reported in problems.
PackageView ReadPackage(host::ByteView file);

// Whether a file whose launcher image is not known to be a package's holds
// a package at all: its CRC region checks, or it is a PE32 image with room
// for the locator whose package starts where the image ends. False with
// why not ("it is no Windows program (...)").
bool CarriesPackage(host::ByteView file, const PackageView& view, std::string* why);

// A problem: its text, and its code (stable, for scripts) beside it.
void AddProblem(PackageView* view, ProblemCode code, const std::string& text);

}  // namespace packaging

#endif  // TOOLS_PACKAGING_PACKAGE_READER_H_
