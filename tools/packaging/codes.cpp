#include "tools/packaging/codes.h"

namespace packaging {

namespace {

// In the order of the enums above.
const std::vector<Code> kCodes = {
    {"file-too-short", "problem", "The file is too short to hold the package locator at offset 128: it is no package."},
    {"no-package", "problem",
     "The locator's header offset is 0: a bare launcher image with nothing appended. The launcher shows the "
     "damaged-package message."},
    {"launcher-image-damaged", "problem",
     "The launcher image's headers or sections are cut or damaged: Windows does not start the file at all."},
    {"truncated", "problem",
     "The file is shorter than its recorded size (an interrupted download or copy): the launcher shows the "
     "truncated-package message. Copy the whole file again."},
    {"header-past-end", "problem", "The package header runs past the end of the file."},
    {"crc-mismatch", "problem",
     "The CRC-32 over the CRC region does not match the locator's: the file was changed after it was built. The "
     "launcher shows the damaged-package message. Build it again."},
    {"lzma-properties-byte", "problem", "The header's LZMA properties byte is 225 or more: no LZMA stream has it."},
    {"lzma-lc-lp", "problem", "The header's LZMA lc + lp is above 4: the launcher's decoder cannot decode it."},
    {"lzma-dictionary", "problem", "The header's LZMA dictionary size is 2 GiB or more."},
    {"no-setup-program", "problem", "The header names neither a 32-bit nor a 64-bit setup program."},
    {"payload-end-zero", "problem",
     "The header's payload-end field (where the setup data starts) is 0: setup programs cannot find their data."},
    {"payload-end-past-end", "problem", "The header's payload-end field lies past the end of the file."},
    {"payload-end-before-payloads", "problem",
     "The header's payload-end field lies before the end of a payload: setup programs would read their data from "
     "inside a payload."},
    {"message-past-end", "problem",
     "A package message runs past the end of the file: the launcher shows the damaged-package message instead of "
     "it."},
    {"region-past-end", "problem", "A region the header names (payload, message) runs past the end of the file."},
    {"region-past-2gib", "problem", "A region starts at or past 2 GiB, which the launcher cannot reach."},
    {"stale-certificate-entry", "problem",
     "The launcher image's certificate-table entry points at no signature (one removed or cut off): sign the "
     "package again or build it anew."},
    {"regions-overlap", "problem", "Two regions of the package overlap."},
    {"payload-out-of-memory", "problem",
     "Decoding a payload takes more memory than the launcher can have in one block: it shows runtime error 203."},
    {"payload-refused", "problem",
     "The launcher refuses a payload (its stream does not decode to the recorded size): it shows the "
     "damaged-package message."},
    {"program-not-startable", "problem",
     "A decoded setup program is not one Windows starts for its slot (not a program, a DLL, the wrong machine "
     "type, cut short, a subsystem other than the Windows GUI or console)."},
    {"program-32-bit-in-64-bit-slot", "problem",
     "The 64-bit slot holds an i386 (32-bit) program: 64-bit Windows starts it (as a 32-bit program), but the "
     "slot is for the x86-64 one. Give it as --program32, or give the 64-bit program."},
    {"launcher-modified", "problem",
     "The package's launcher image is not the one this tool ships: it differs in more than the locator room, "
     "checksum, certificate entry and the maker's version strings and icon. verify runs the tool's own launcher "
     "code, so it checks no row of such a package. Build the package again with this tool's launcher."},
    {"crc-region-out-of-memory", "problem",
     "The CRC region is larger than the block of memory the launcher can have on 32-bit Windows: it takes the "
     "region in one block and ends in runtime error 203 there. Let the CRC cover less (--crc-reach)."},
    {"runs", "row", "The launcher starts the setup program on this row."},
    {"damaged-package", "row", "The launcher shows the damaged-package message (CRC, locator or a payload)."},
    {"truncated-package", "row", "The launcher shows the truncated-package message (the file is cut short)."},
    {"architecture-refused", "row",
     "The package refuses this architecture (32- or 64-bit Windows) and the launcher shows its architecture "
     "message."},
    {"version-refused", "row",
     "The package does not allow this Windows version and the launcher shows its version message."},
    {"temporary-copy-failed", "row", "The launcher could not write the temporary copy of the setup program."},
    {"not-executed", "row", "The launcher wrote the setup program but Windows did not start it."},
    {"out-of-memory", "row",
     "The launcher ends in runtime error 203: the process cannot get the memory decoding takes there."},
    {"nothing-started", "row", "The launcher ends without starting anything and without a message."},
    {"file-not-started", "row", "Windows does not start the package file at all: its launcher image is damaged."},
    {"not-checked", "row",
     "The row is not checked: the package's launcher image is not the one this tool ships (launcher-modified)."},
};

}  // namespace

const Code& CodeOf(ProblemCode code) { return kCodes[static_cast<size_t>(code)]; }
const Code& CodeOf(RowReason reason) {
  return kCodes[static_cast<size_t>(ProblemCode::kCrcRegionOutOfMemory) + 1 + static_cast<size_t>(reason)];
}
const std::vector<Code>& AllCodes() { return kCodes; }

}  // namespace packaging
