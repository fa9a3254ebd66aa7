// Signing inside build: the author's own command signs the package before
// it takes its name, so that no unsigned package is ever left under it.
#ifndef TOOLS_PACKAGE_TOOL_SIGNING_H_
#define TOOLS_PACKAGE_TOOL_SIGNING_H_

#include <functional>
#include <string>

#include "host/system/files.h"
#include "tools/package_tool/commands.h"

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

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_SIGNING_H_
