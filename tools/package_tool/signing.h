// Signing inside build: the author's own command signs the package before
// it takes its name, so that no unsigned package is ever left under it.
#ifndef TOOLS_PACKAGE_TOOL_SIGNING_H_
#define TOOLS_PACKAGE_TOOL_SIGNING_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/system/files.h"
#include "tools/package_tool/build_options.h"
#include "tools/package_tool/commands.h"
#include "tools/package_tool/output_files.h"
#include "tools/packaging/package_writer.h"

namespace tool {

// What writes the unsigned package into a new, empty file:
// kExitFine, or the exit status with *error.
using PackageWriter = std::function<int(sys::File file, std::string* error)>;

// Has `write` make the package in a temporary file, runs `command` through
// /bin/sh with {in} and {out} replaced by the quoted paths of that file and
// of where the signed package must appear, and checks the result: a
// certificate-table entry pointing at a certificate after the package's
// recorded end, and a package in which inspect finds no problem. Only then
// does the signed file become `output`, and *size is its size. kExitFine,
// or `write`'s status, or kExitInputOutput with a sentence (for a failing
// command, its last line of errors); nothing is left behind.
int WriteSignedPackage(const std::string& output, const PackageWriter& write, const std::string& command,
                       const Common& common, uint64_t* size, std::string* error);

// --sign-programs: each setup program in `parts` copied to a scratch file
// beside `near`, signed by `command` ({in} the copy, {out} the signed one),
// checked (pe::SignedCopyProblem) and read from there in its place; the
// author's files are never changed. A program that already carries a
// certificate table is taken as it is. The scratch files stay in `keep`
// until the package is written. kExitFine, or kExitInputOutput with a
// sentence that names the author's program (never a scratch file).
int SignPrograms(const BuildSettings& settings, const std::string& command, const Common& common,
                 packaging::PackageParts* parts, std::vector<std::unique_ptr<ScratchFile>>* keep,
                 std::string* error);

// What a package signed as a whole tells its users when a program inside
// is not: the warning, or "" (`signedPackage` and each program's
// certificate table as found).
std::string UnsignedProgramWarning(bool signedPackage, bool program32Unsigned, bool program64Unsigned);

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_SIGNING_H_
