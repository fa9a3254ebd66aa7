// The stable codes beside the tool's words, for scripts: the problems inspect
// finds and the reasons verify gives for each row, each with what it means.
// `setup-package explain` prints this table.
#ifndef TOOLS_PACKAGING_CODES_H_
#define TOOLS_PACKAGING_CODES_H_

#include <cstddef>
#include <string>
#include <vector>

namespace packaging {

enum class ProblemCode {
  kFileTooShort,
  kNoPackage,
  kLauncherImageDamaged,
  kTruncated,
  kHeaderPastEnd,
  kCrcMismatch,
  kLzmaPropertiesByte,
  kLzmaLcLp,
  kLzmaDictionary,
  kNoSetupProgram,
  kPayloadEndZero,
  kPayloadEndPastEnd,
  kPayloadEndBeforePayloads,
  kMessagePastEnd,
  kRegionPastEnd,
  kRegionPast2Gib,
  kStaleCertificateEntry,
  kRegionsOverlap,
  kPayloadOutOfMemory,
  kPayloadRefused,
  kProgramNotStartable,
  kProgram32BitIn64BitSlot,
  kLauncherModified,
  kCrcRegionOutOfMemory,
  kTotalSizeNegative,
  kNotAPackage,
  kRuntimeErrorRows,
};
// How many there are: the table of their words (codes.cpp) is held to it.
constexpr size_t kProblemCodeCount = static_cast<size_t>(ProblemCode::kRuntimeErrorRows) + 1;

// Why a verify row ends as it does.
enum class RowReason {
  kRuns,
  kDamagedPackage,
  kTruncatedPackage,
  kArchitectureRefused,
  kVersionRefused,
  kTemporaryCopyFailed,
  kNotExecuted,
  kOutOfMemory,
  kNothingStarted,
  kFileNotStarted,
  kNotChecked,
  kAddressSpaceDecides,
};
constexpr size_t kRowReasonCount = static_cast<size_t>(RowReason::kAddressSpaceDecides) + 1;

// A code's name and what it means for the package's users and what to do.
struct Meaning {
  const char* name;
  const char* meaning;
};

struct Code {
  const char* name;     // "crc-mismatch", ...
  const char* kind;     // "problem" (inspect, verify) or "row" (a verify row's reason)
  const char* meaning;  // what it means for the package's users and what to do
};

const Code& CodeOf(ProblemCode code);
const Code& CodeOf(RowReason reason);
// Every code, problems first, each once.
const std::vector<Code>& AllCodes();

}  // namespace packaging

#endif  // TOOLS_PACKAGING_CODES_H_
