// What the Windows definitions of the system seam share: <windows.h> (the
// one place that includes it, with WIN32_LEAN_AND_MEAN and NOMINMAX), UTF-8
// to wide text and back, paths in the form the system takes whatever their
// length, and errors in the words the POSIX definitions use.
#ifndef HOST_SYSTEM_WINDOWS_WIN32_API_H_
#define HOST_SYSTEM_WINDOWS_WIN32_API_H_

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <string>

#include "host/system/files.h"

namespace sys {
namespace win32 {

inline HANDLE Handle(File file) { return reinterpret_cast<HANDLE>(file); }
inline File FileOf(HANDLE handle) { return reinterpret_cast<File>(handle); }

std::wstring Wide(const std::string& utf8);
std::string Utf8(const wchar_t* text, size_t count);
// The path absolute, with backslashes, in its extended-length form (\\?\),
// so that long and UNC paths and both slash kinds work.
std::wstring SystemPath(const std::string& path);
// The reason for a Windows error, in the words the POSIX definition uses for
// the same failure; with a path, "PATH: reason" for the last error.
std::string Reason(DWORD error);
std::string Reason(const std::string& path);

}  // namespace win32
}  // namespace sys

#endif  // HOST_SYSTEM_WINDOWS_WIN32_API_H_
