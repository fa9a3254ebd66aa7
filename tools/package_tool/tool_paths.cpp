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

}  // namespace tool
