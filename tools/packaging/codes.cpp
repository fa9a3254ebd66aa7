// The problem codes and row reasons, each with its words.
#include "tools/packaging/codes.h"

#include <cstddef>
#include <iterator>

namespace packaging {

namespace {

// Each code beside its words. The compiler holds each table to its enum:
// every code has its row, at its place (see InOrder).
template <typename Enum>
struct Row {
  Enum code;
  Meaning text;
};

constexpr Row<ProblemCode> kProblems[] = {
    {ProblemCode::kFileTooShort, {"file-too-short", "The file is too short to hold the package locator at offset 128: it is no package."}},
    {ProblemCode::kNoPackage, {"no-package",
     "The locator's header offset is 0: a bare launcher image with nothing appended. The launcher shows the "
     "damaged-package message."}},
    {ProblemCode::kLauncherImageDamaged, {"launcher-image-damaged",
     "The launcher image's headers or sections are cut or damaged: Windows does not start the file at all."}},
    {ProblemCode::kTruncated, {"truncated",
     "The file is shorter than its recorded size (an interrupted download or copy): the launcher shows the "
     "truncated-package message. Copy the whole file again."}},
    {ProblemCode::kHeaderPastEnd, {"header-past-end", "The package header runs past the end of the file."}},
    {ProblemCode::kCrcMismatch, {"crc-mismatch",
     "The CRC-32 over the CRC region does not match the locator's: the file was changed after it was built. The "
     "launcher shows the damaged-package message. Build it again."}},
    {ProblemCode::kLzmaPropertiesByte, {"lzma-properties-byte", "The header's LZMA properties byte is 225 or more: no LZMA stream has it."}},
    {ProblemCode::kLzmaLcLp, {"lzma-lc-lp", "The header's LZMA lc + lp is above 4: the launcher's decoder cannot decode it."}},
    {ProblemCode::kLzmaDictionary, {"lzma-dictionary", "The header's LZMA dictionary size is 2 GiB or more."}},
    {ProblemCode::kNoSetupProgram, {"no-setup-program", "The header names neither a 32-bit nor a 64-bit setup program."}},
    {ProblemCode::kPayloadEndZero, {"payload-end-zero",
     "The header's payload-end field (where the setup data starts) is 0: setup programs cannot find their data."}},
    {ProblemCode::kPayloadEndPastEnd, {"payload-end-past-end", "The header's payload-end field lies past the end of the file."}},
    {ProblemCode::kPayloadEndBeforePayloads, {"payload-end-before-payloads",
     "The header's payload-end field lies before the end of a payload: setup programs would read their data from "
     "inside a payload."}},
    {ProblemCode::kMessagePastEnd, {"message-past-end",
     "A package message runs past the end of the file: the launcher shows the damaged-package message instead of "
     "it."}},
    {ProblemCode::kRegionPastEnd, {"region-past-end", "A region the header names (payload, message) runs past the end of the file."}},
    {ProblemCode::kRegionPast2Gib, {"region-past-2gib", "A region starts at or past 2 GiB, which the launcher cannot reach."}},
    {ProblemCode::kStaleCertificateEntry, {"stale-certificate-entry",
     "The launcher image's certificate-table entry points at no signature (one removed or cut off): sign the "
     "package again or build it anew."}},
    {ProblemCode::kRegionsOverlap, {"regions-overlap", "Two regions of the package overlap."}},
    {ProblemCode::kPayloadOutOfMemory, {"payload-out-of-memory",
     "Decoding a payload takes more memory than the launcher can have in one block: it shows runtime error 203."}},
    {ProblemCode::kPayloadRefused, {"payload-refused",
     "The launcher refuses a payload (its stream does not decode to the recorded size): it shows the "
     "damaged-package message."}},
    {ProblemCode::kProgramNotStartable, {"program-not-startable",
     "A decoded setup program is not one Windows starts for its slot (not a program, a DLL, the wrong machine "
     "type, cut short, a subsystem other than the Windows GUI or console)."}},
    {ProblemCode::kProgram32BitIn64BitSlot, {"program-32-bit-in-64-bit-slot",
     "The 64-bit slot holds an i386 (32-bit) program: 64-bit Windows starts it (as a 32-bit program), but the "
     "slot is for the x86-64 one. Give it as --program32, or give the 64-bit program."}},
    {ProblemCode::kLauncherModified, {"launcher-modified",
     "The package's launcher image is not the one this tool ships: it differs in more than the locator room, "
     "checksum, certificate entry and the maker's version strings and icon. verify runs the tool's own launcher "
     "code, so it checks no row of such a package. Build the package again with this tool's launcher."}},
    {ProblemCode::kCrcRegionOutOfMemory, {"crc-region-out-of-memory",
     "The CRC region is larger than the block of memory the launcher can have on 32-bit Windows: it takes the "
     "region in one block and ends in runtime error 203 there. Let the CRC cover less (--crc-reach)."}},
    {ProblemCode::kTotalSizeNegative, {"total-size-negative",
     "The locator's total size has its highest bit set (totalSizeHigh 0x80000000 or more): the launcher takes it "
     "as negative and never finds the file short, but a setup program that finds the end of its data from it gets "
     "nonsense. Build the package again."}},
    {ProblemCode::kNotAPackage, {"not-a-package",
     "The file carries no package: it is no launcher image with a package appended (a plain Windows program, "
     "another kind of file). Nothing in it was read as a package."}},
    {ProblemCode::kRuntimeErrorRows, {"runtime-error-rows",
     "On some rows the launcher ends in a runtime error (203, out of memory) instead of starting a setup program "
     "or showing a message: no package means that. verify shows the rows."}},
};

constexpr Row<RowReason> kRowReasons[] = {
    {RowReason::kRuns, {"runs", "The launcher starts the setup program on this row."}},
    {RowReason::kDamagedPackage, {"damaged-package", "The launcher shows the damaged-package message (CRC, locator or a payload)."}},
    {RowReason::kTruncatedPackage, {"truncated-package", "The launcher shows the truncated-package message (the file is cut short)."}},
    {RowReason::kArchitectureRefused, {"architecture-refused",
     "The package refuses this architecture (32- or 64-bit Windows) and the launcher shows its architecture "
     "message."}},
    {RowReason::kVersionRefused, {"version-refused",
     "The package does not allow this Windows version and the launcher shows its version message."}},
    {RowReason::kTemporaryCopyFailed, {"temporary-copy-failed", "The launcher could not write the temporary copy of the setup program."}},
    {RowReason::kNotExecuted, {"not-executed", "The launcher wrote the setup program but Windows did not start it."}},
    {RowReason::kOutOfMemory, {"out-of-memory",
     "The launcher ends in runtime error 203: the process cannot get the memory decoding takes there."}},
    {RowReason::kNothingStarted, {"nothing-started", "The launcher ends without starting anything and without a message."}},
    {RowReason::kFileNotStarted, {"file-not-started", "Windows does not start the package file at all: its launcher image is damaged."}},
    {RowReason::kNotChecked, {"not-checked",
     "The row is not checked: the package's launcher image is not the one this tool ships (launcher-modified)."}},
    {RowReason::kAddressSpaceDecides, {"address-space-decides",
     "The launcher needs one block of memory of more than 1 GiB here: it starts the setup program where the "
     "process's free address space holds such a block, and ends in runtime error 203 where it does not. Which one "
     "a machine gives depends on what else its address space holds."}},
};

template <typename Enum, size_t N>
constexpr bool InOrder(const Row<Enum> (&rows)[N]) {
  for (size_t i = 0; i < N; ++i) {
    if (static_cast<size_t>(rows[i].code) != i) return false;
  }
  return true;
}
static_assert(std::size(kProblems) == kProblemCodeCount && InOrder(kProblems),
              "one row per problem code, in the order of ProblemCode");
static_assert(std::size(kRowReasons) == kRowReasonCount && InOrder(kRowReasons),
              "one row per row reason, in the order of RowReason");

template <typename Enum, size_t N>
void Add(const Row<Enum> (&rows)[N], const char* kind, std::vector<Code>* out) {
  for (const Row<Enum>& row : rows) out->push_back(Code{row.text.name, kind, row.text.meaning});
}

}  // namespace

const std::vector<Code>& AllCodes() {
  static const std::vector<Code> codes = [] {
    std::vector<Code> all;
    Add(kProblems, "problem", &all);
    Add(kRowReasons, "row", &all);
    return all;
  }();
  return codes;
}

const Code& CodeOf(ProblemCode code) { return AllCodes()[static_cast<size_t>(code)]; }
const Code& CodeOf(RowReason reason) { return AllCodes()[kProblemCodeCount + static_cast<size_t>(reason)]; }

}  // namespace packaging
