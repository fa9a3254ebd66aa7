#include "tools/package_tool/tool_paths.h"

#include <sys/stat.h>
#include <unistd.h>

namespace tool {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

namespace {

// The folder the running tool lies in, or "" when the system does not say.
std::string ToolFolder() {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  self[n] = 0;
  return FolderOf(self);
}

bool IsRegularFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::string InstalledLauncherPath() {
  const std::string folder = ToolFolder();
  if (folder.empty()) return "share/setup-package/launcher.exe";
  return FolderOf(folder) + "/share/setup-package/launcher.exe";
}

std::optional<std::string> InstalledLauncher() {
  const std::string path = InstalledLauncherPath();
  if (IsRegularFile(path)) return path;
  return std::nullopt;
}

std::optional<std::string> ReferenceLauncher() {
  if (std::optional<std::string> installed = InstalledLauncher()) return installed;
#if defined(SETUP_PACKAGE_BUILD_DIR) && defined(SETUP_PACKAGE_BUILD_LAUNCHER)
  // Run from its build tree: the launcher that build made.
  if (ToolFolder() == SETUP_PACKAGE_BUILD_DIR && IsRegularFile(SETUP_PACKAGE_BUILD_LAUNCHER)) {
    return std::string(SETUP_PACKAGE_BUILD_LAUNCHER);
  }
#endif
  return std::nullopt;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace tool
