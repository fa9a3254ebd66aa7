// Where the launcher image is that the package tool builds with and
// compares packages with (in the build tree, the windows preset's launcher
// lies where an installed tool keeps its own).
#ifndef TOOLS_PACKAGE_TOOL_TOOL_PATHS_H_
#define TOOLS_PACKAGE_TOOL_TOOL_PATHS_H_

#include <optional>
#include <string>

namespace tool {

// Where an installed tool keeps its launcher image (beside the folder the
// tool runs from, as the system's layout has it); the path when it is there.
std::string InstalledLauncherPath();
std::optional<std::string> InstalledLauncher();

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_TOOL_PATHS_H_
