// Where the installed and the build tree's launcher image are.
#include "tools/package_tool/tool_paths.h"

#include "host/system/files.h"
#include "host/system/process.h"

namespace tool {

std::string InstalledLauncherPath() { return sys::InstalledLauncherOf(sys::ToolFolder()); }

std::optional<std::string> InstalledLauncher() {
  const std::string path = InstalledLauncherPath();
  if (sys::KindOf(path) == sys::FileKind::kRegular) return path;
  return std::nullopt;
}

std::optional<std::string> ReferenceLauncher() {
  if (std::optional<std::string> installed = InstalledLauncher()) return installed;
#if defined(SETUP_PACKAGE_BUILD_DIR) && defined(SETUP_PACKAGE_BUILD_LAUNCHER)
  // Run from its build tree: the launcher that build made.
  if (sys::ToolFolder() == SETUP_PACKAGE_BUILD_DIR && sys::KindOf(SETUP_PACKAGE_BUILD_LAUNCHER) == sys::FileKind::kRegular) {
    return std::string(SETUP_PACKAGE_BUILD_LAUNCHER);
  }
#endif
  return std::nullopt;
}

}  // namespace tool
