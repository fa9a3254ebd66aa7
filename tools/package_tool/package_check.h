// What inspect and verify both begin with: the package read, each of its
// programs decoded once and checked for its slot, and its launcher image
// compared with the one this tool ships.
#ifndef TOOLS_PACKAGE_TOOL_PACKAGE_CHECK_H_
#define TOOLS_PACKAGE_TOOL_PACKAGE_CHECK_H_

#include "host/bytes.h"
#include "tools/packaging/package_reader.h"
#include "tools/packaging/program_check.h"
#include "tools/package_tool/commands.h"
#include "tools/package_tool/launcher_identity.h"

namespace tool {

struct CheckedPackage {
  packaging::PackageView view;  // with the programs' and the launcher's problems
  packaging::ProgramSlot slot32, slot64;
  LauncherIdentity identity = LauncherIdentity::kNotCompared;
};

// With progress lines as `common` allows them.
CheckedPackage CheckPackage(host::ByteView file, const Common& common);

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_PACKAGE_CHECK_H_
