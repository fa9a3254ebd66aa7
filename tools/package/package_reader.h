// Reads a package back: its records, its layout as a map of the file, and
// the problems in it. Decoding goes through the launcher's own code on the
// simulated machine, so the tool sees a package exactly as the launcher does.
#ifndef TOOLS_PACKAGE_PACKAGE_READER_H_
#define TOOLS_PACKAGE_PACKAGE_READER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/bytes.h"
#include "launcher/package_format.h"
#include "support/stream.h"
#include "tools/package/codes.h"
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
PackageView ReadPackage(host::ByteView file);

// A problem: its text, and its code (stable, for scripts) beside it.
void AddProblem(PackageView* view, ProblemCode code, const std::string& text);

// Pieces of a decoded program, handed on as they are decoded.
using PieceSink = std::function<void(const uint8_t* bytes, size_t count)>;

// What the launcher's own steps make of a payload, decoded in pieces so that
// no program is held whatever its size: the launcher's reading of the stream
// (ReadPayload), then its decoder bounded at the recorded size.
struct Decoded {
  bool read = false;     // the stream was read and the decoder set up
  int64_t produced = 0;  // the bytes the stream gave
  Bytes head;            // the program's first bytes, as far as pe::HeadNeeded
  bool ok = false;       // it decoded to exactly the recorded size
  std::string message;   // when not ok: the message the launcher shows
};
// With `progress`, a line on standard error while a program of more than a
// few MiB decodes.
Decoded DecodeEntry(host::ByteView file, const launcher::PayloadEntry& entry, const PieceSink& sink = nullptr,
                    bool progress = false);

// Whether the launcher's message is its out-of-memory report (runtime error
// 203).
bool OutOfMemory(const std::string& message);

// The launcher's DecodePayload for `entry` on the running simulated machine,
// replayed from what decoding it once gave: the same memory taken in the same
// steps and the same verdict, nothing read or decoded again (not for a
// decoding that ran out of memory itself: how far it got depends on the
// machine). A program that decodes is declared to the machine as the
// output's bytes, not written there (sim::Machine::DeclareBlock).
void ReplayDecodePayload(const launcher::PayloadEntry& entry, const launcher::PackageHeader& header,
                         const std::shared_ptr<const Decoded>& decoded, support::TStream* compressed,
                         support::TStream* decompressed);

// The same replay on the process the launcher gets on 64-bit Windows: empty
// when its memory suffices, else the runtime error the launcher shows.
std::string ReplayedMemoryError(const launcher::PayloadEntry& entry, const launcher::PackageHeader& header,
                                const Decoded& decoded);

// One payload slot checked by CheckPrograms: what decoding it gave, and
// where its bytes go (for extract) as they are decoded.
struct ProgramSlot {
  PieceSink sink;
  bool progress = false;  // see DecodeEntry
  Decoded decoded;
};

// Problems of the decoded programs: each payload decoded in pieces and its
// program checked against its slot (i386 for the 32-bit one, x86-64 for the
// 64-bit one), and the memory its decoding takes. Appended to view->problems.
void CheckPrograms(host::ByteView file, PackageView* view, ProgramSlot* slot32 = nullptr,
                   ProgramSlot* slot64 = nullptr);

}  // namespace packaging

#endif  // TOOLS_PACKAGE_PACKAGE_READER_H_
