// What build makes a package from: its settings read into the package's
// input (messages, the launcher image prepared and branded, the programs
// checked, the versions, the CRC reach and the LZMA settings), and what the
// package's users would meet that its author may not mean.
#ifndef TOOLS_PACKAGE_TOOL_BUILD_INPUT_H_
#define TOOLS_PACKAGE_TOOL_BUILD_INPUT_H_

#include <string>
#include <vector>

#include "tools/packaging/launcher_memory.h"
#include "tools/packaging/package_writer.h"
#include "tools/package_tool/build_options.h"

namespace tool {

// Reads every input the settings name into *input, and opens the programs
// (their headers checked) and the setup data, which are read as the package
// is written: kExitFine, or the exit status with a sentence in *error.
// Nothing big is opened before the messages and the branding are found good.
int ReadBuildInput(const BuildSettings& settings, packaging::PackageSettings* input, packaging::PackageParts* parts,
                   std::string* error);

// Warnings about the input: versions or architectures refused without a
// message, messages the code page cannot show, a program too big for every
// 32-bit process.
std::vector<std::string> InputWarnings(const packaging::PackageSettings& input, const packaging::PackageParts& parts,
                                       uint32_t codePage);

// The size of the larger program.
uint64_t LargestProgram(const packaging::PackageParts& parts);

// Warnings about the built package: a CRC region too big for every 32-bit
// process, or one that leaves part of the header and payloads out.
std::vector<std::string> BuiltPackageWarnings(const packaging::PackageLayout& package, const std::string& crcReach);

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_BUILD_INPUT_H_
