// Windows path and cmd.exe syntax as plain text work.
#include "host/windows_paths.h"

namespace host {

namespace {

bool StartsWith(const std::u16string& text, const char16_t* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

std::u16string ExtendedLengthPath(const std::u16string& fullPath) {
  if (StartsWith(fullPath, u"\\\\?\\") || StartsWith(fullPath, u"\\\\.\\")) return fullPath;
  if (StartsWith(fullPath, u"\\\\")) return u"\\\\?\\UNC\\" + fullPath.substr(2);
  return u"\\\\?\\" + fullPath;
}

std::string WindowsFolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  const bool drive = path.size() >= 2 && path[1] == ':';
  if (slash == std::string::npos) return drive ? path.substr(0, 2) : ".";
  if (slash == 0) return path.substr(0, 1);           // \name
  if (drive && slash == 2) return path.substr(0, 3);  // C:\name
  return path.substr(0, slash);
}

std::string WindowsFileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  if (slash != std::string::npos) return path.substr(slash + 1);
  return path.size() >= 2 && path[1] == ':' ? path.substr(2) : path;
}

bool IsWindowsAbsolute(const std::string& path) {
  if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
  return path.size() >= 2 && path[1] == ':';
}

std::string QuotedForCmd(const std::string& path) {
  std::string out = "\"";
  for (char c : path) out += c == '%' ? std::string("\"^%\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace host
