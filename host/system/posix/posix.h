// What the POSIX definitions of the system seam share: errors in words.
#ifndef HOST_SYSTEM_POSIX_POSIX_H_
#define HOST_SYSTEM_POSIX_POSIX_H_

#include <cerrno>
#include <cstring>
#include <string>

#include "host/system/files.h"

namespace sys {
namespace posix {

inline std::string Reason(int error) { return std::strerror(error); }
inline std::string Reason(const std::string& path) { return path + ": " + Reason(errno); }
inline int Fd(File file) { return static_cast<int>(file); }

}  // namespace posix
}  // namespace sys

#endif  // HOST_SYSTEM_POSIX_POSIX_H_
