// Words for package fields, shared by inspect and verify.
#ifndef TOOLS_PACKAGE_TOOL_PACKAGE_WORDS_H_
#define TOOLS_PACKAGE_TOOL_PACKAGE_WORDS_H_

#include <string>
#include <vector>

#include "tools/packaging/package_reader.h"

namespace tool {

// The allowed versions by name, or "none".
std::string AllowedWords(uint64_t set);

// Where the setup data lies, for setup-program authors.
std::string SetupDataWords(const packaging::PackageView& view);

// What a CRC region that stops short of the payloads' end leaves unguarded
// (after "--crc-reach N" or "the CRC region of N bytes").
constexpr const char* kCrcLeavesOut =
    " leaves part of the header and payloads outside the CRC: damage there is found only when decoding fails, or "
    "not at all";

// The sentence a file without a package leads with: "FILE carries no
// package: why [code]".
std::string NoPackageSentence(const std::string& path, const packaging::PackageView& view);

// inspect's warnings: what the package's users would meet that its author
// may not mean, though the launcher runs it (a CRC region that leaves out
// part of the header and payloads).
std::vector<std::string> PackageWarnings(const packaging::PackageView& view);

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_PACKAGE_WORDS_H_
