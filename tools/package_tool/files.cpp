#include "tools/package_tool/files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tool {

namespace {

std::string Reason(const std::string& path) { return path + ": " + std::strerror(errno); }

bool WriteAll(int fd, const packaging::Bytes& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string InstalledLauncherPath() {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "share/setup-package/launcher.exe";
  self[n] = 0;
  return FolderOf(FolderOf(self)) + "/share/setup-package/launcher.exe";
}

std::optional<std::string> InstalledLauncher() {
  const std::string path = InstalledLauncherPath();
  struct stat info;
  if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return path;
  return std::nullopt;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool ReadInputFile(const std::string& path, packaging::Bytes* out, std::string* error) {
  // Without waiting: a FIFO would block the open until someone writes to it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return *error = Reason(path), false;
  struct stat s;
  if (::fstat(fd, &s) != 0) {
    *error = Reason(path);
    ::close(fd);
    return false;
  }
  if (!S_ISREG(s.st_mode)) {
    *error = path + (S_ISDIR(s.st_mode) ? ": is a directory" : ": not a regular file");
    ::close(fd);
    return false;
  }
  out->resize(static_cast<size_t>(s.st_size));
  size_t done = 0;
  while (done < out->size()) {
    const ssize_t n = ::read(fd, out->data() + done, out->size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = Reason(path);
      ::close(fd);
      return false;
    }
    if (n == 0) break;  // shrank while being read
    done += static_cast<size_t>(n);
  }
  out->resize(done);
  ::close(fd);
  return true;
}

bool WriteOutputFile(const std::string& path, const packaging::Bytes& bytes, Existing existing,
                     std::string* error) {
  struct stat s;
  if (::lstat(path.c_str(), &s) == 0) {
    if (existing == Existing::kRefuse) return *error = path + ": exists (use --force to replace it)", false;
    if (S_ISDIR(s.st_mode)) return *error = path + ": is a directory", false;
  }
  std::string temporary = FolderOf(path) + "/.setup-package-XXXXXX";
  const int fd = ::mkstemp(&temporary[0]);
  if (fd < 0) return *error = Reason(FolderOf(path)), false;
  bool ok = WriteAll(fd, bytes) && ::fsync(fd) == 0;
  if (!ok) *error = Reason(path);
  // mkstemp makes the file private; the output gets the usual mode.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ok = ::fchmod(fd, 0644 & ~mask) == 0 && ok;
  if (::close(fd) != 0 && ok) ok = false, *error = Reason(path);
  if (ok) {
    // Without --force the name is taken only while it is still free.
    const int renamed = existing == Existing::kRefuse
                            ? ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE)
                            : ::rename(temporary.c_str(), path.c_str());
    if (renamed != 0) {
      *error = errno == EEXIST ? path + ": exists (use --force to replace it)" : Reason(path);
      ok = false;
    }
  }
  if (!ok) ::unlink(temporary.c_str());
  return ok;
}

}  // namespace tool
