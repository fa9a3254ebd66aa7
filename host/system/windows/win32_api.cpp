// What the Windows definitions of the system seam share: text, paths and errors.
#include "host/system/windows/win32_api.h"

#include "host/utf.h"
#include "host/windows_paths.h"

namespace sys {
namespace win32 {

std::wstring Wide(const std::string& utf8) {
  std::u16string text;
  if (!host::Utf8ToUtf16(utf8, &text)) {
    // Not valid UTF-8 (the tool refuses such text before it gets here): each
    // byte as its own character, so that the call fails with a reason.
    text.assign(utf8.begin(), utf8.end());
  }
  return std::wstring(text.begin(), text.end());
}

std::string Utf8(const wchar_t* text, size_t count) {
  return host::Utf16ToWtf8(std::u16string(reinterpret_cast<const char16_t*>(text), count));
}

std::wstring SystemPath(const std::string& path) {
  const std::wstring wide = Wide(path);
  const DWORD room = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (room == 0) return wide;
  std::wstring full(room, L'\0');
  const DWORD n = GetFullPathNameW(wide.c_str(), room, &full[0], nullptr);
  if (n == 0 || n >= room) return wide;
  const std::u16string extended = host::ExtendedLengthPath(std::u16string(full.begin(), full.begin() + n));
  return std::wstring(extended.begin(), extended.end());
}

std::string Reason(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_DRIVE:
      return "No such file or directory";
    case ERROR_ACCESS_DENIED:
      return "Permission denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return "the file is in use by another program (close it and try again)";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "No space left on device";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return "File exists";
    case ERROR_WRITE_PROTECT:
      return "Read-only file system";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return "Cannot allocate memory";
    case ERROR_FILENAME_EXCED_RANGE:
      return "File name too long";
    case ERROR_DIRECTORY:
      return "Not a directory";
    case ERROR_NOACCESS:
      return "an input file shrank while it was being read";
    default:
      break;
  }
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                 reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string reason = n > 0 ? Utf8(text, n) : "";
  if (text != nullptr) LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.' ||
                             reason.back() == ' ')) {
    reason.pop_back();
  }
  return (reason.empty() ? "error" : reason) + " (Windows error " + std::to_string(error) + ")";
}
std::string Reason(const std::string& path) { return path + ": " + Reason(GetLastError()); }

}  // namespace win32
}  // namespace sys
