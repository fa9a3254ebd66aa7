// Where the launcher image is that the package tool builds with and
// compares packages with.
#ifndef TOOLS_PACKAGE_TOOL_TOOL_PATHS_H_
#define TOOLS_PACKAGE_TOOL_TOOL_PATHS_H_

#include <optional>
#include <string>

namespace tool {

// Where an installed tool keeps its launcher image (beside the folder the
// tool runs from, as the system's layout has it); the path when it is there.
std::string InstalledLauncherPath();
std::optional<std::string> InstalledLauncher();
// The launcher a package's image is compared with: the installed one (in
// the build tree, the launcher the windows preset built lies where an
// installed tool keeps its own).
std::optional<std::string> ReferenceLauncher();

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_TOOL_PATHS_H_
