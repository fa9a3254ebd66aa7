// What inspect and verify both begin with: the package read, each of its
// programs decoded once and checked for its slot, and its launcher image
// compared with the one this tool ships; or why the file is no package.
#ifndef TOOLS_PACKAGE_TOOL_PACKAGE_CHECK_H_
#define TOOLS_PACKAGE_TOOL_PACKAGE_CHECK_H_

#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "host/bytes.h"
#include "tools/packaging/package_reader.h"
#include "tools/packaging/program_check.h"
#include "tools/package_tool/commands.h"
#include "tools/package_tool/launcher_identity.h"

namespace tool {

struct CheckedPackage {
  packaging::PackageView view;  // with the programs' and the launcher's problems
  packaging::ProgramSlot slot32, slot64;
  LauncherIdentity identity = LauncherIdentity::kNoImage;
};

// With progress lines as `common` allows them, and the launcher compared
// with `reference` (LoadReference). A file that carries no package is not
// decoded: its view holds the one problem why.
// --reference-launcher FILE, for the commands that compare the launcher.
void AddReferenceOption(CLI::App* command, std::optional<std::string>* path);

CheckedPackage CheckPackage(host::ByteView file, const Common& common, const std::optional<packaging::Bytes>& reference);

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_PACKAGE_CHECK_H_
