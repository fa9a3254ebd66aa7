// Paths the package tool works out: a path's folder, whether two paths are
// one file, and where the launcher image it builds with and compares with is.
#ifndef TOOLS_PACKAGE_TOOL_TOOL_PATHS_H_
#define TOOLS_PACKAGE_TOOL_TOOL_PATHS_H_

#include <optional>
#include <string>

namespace tool {

// Where an installed tool keeps its launcher image: ../share/setup-package
// from the folder the tool itself runs from; the path when the file is there.
std::string InstalledLauncherPath();
std::optional<std::string> InstalledLauncher();
// The launcher a package's image is compared with: the installed one, or,
// for a tool run from its build tree, the launcher that build made.
std::optional<std::string> ReferenceLauncher();

// Whether both paths name one existing file (the same device and inode).
bool SameFile(const std::string& a, const std::string& b);

// The folder part of a path ("." when it has none).
std::string FolderOf(const std::string& path);

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_TOOL_PATHS_H_
