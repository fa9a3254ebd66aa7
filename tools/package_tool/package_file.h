// The package file: build's options as TOML keys, read with the same
// checks as the command line.
#ifndef TOOLS_PACKAGE_TOOL_PACKAGE_FILE_H_
#define TOOLS_PACKAGE_TOOL_PACKAGE_FILE_H_

#include <string>

#include "tools/package_tool/build_options.h"

namespace tool {

// Reads the package file. Paths in it are relative to its own folder; values
// get the same checks as on the command line. Returns kExitFine, or
// kExitInputOutput / kExitUsage with a message that names the file, and for
// a bad key the key and its line.
int ReadPackageFile(const std::string& path, BuildSettings* out, std::string* error);

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_PACKAGE_FILE_H_
