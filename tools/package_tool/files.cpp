#include "tools/package_tool/files.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

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
  try {
    out->resize(static_cast<size_t>(s.st_size));
  } catch (const std::bad_alloc&) {
    *error = path + ": " + std::to_string(s.st_size) + " bytes, more than this machine's memory holds at once";
    ::close(fd);
    return false;
  }
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

namespace {

// The temporary files being written, removed when the process is
// interrupted (SIGINT, SIGTERM, SIGHUP) so that none is left behind. Fixed
// storage: the handler may only unlink.
constexpr int kMaxTemporaries = 8;
char temporaries[kMaxTemporaries][4096];
volatile sig_atomic_t temporaryCount = 0;

extern "C" void RemoveTemporariesAndEnd(int signal) {
  for (int i = 0; i < temporaryCount; ++i) ::unlink(temporaries[i]);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void WatchSignals() {
  static bool watching = false;
  if (watching) return;
  watching = true;
  for (int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, RemoveTemporariesAndEnd);
}

}  // namespace

bool WriteOutputFiles(const std::vector<OutputFile>& files, Existing existing, std::string* error) {
  if (files.size() > size_t(kMaxTemporaries)) return *error = "too many outputs at once", false;
  for (const OutputFile& f : files) {
    struct stat s;
    if (::lstat(f.path.c_str(), &s) == 0) {
      if (existing == Existing::kRefuse) return *error = f.path + ": exists (use --force to replace it)", false;
      if (S_ISDIR(s.st_mode)) return *error = f.path + ": is a directory", false;
    }
  }
  WatchSignals();
  const mode_t mask = ::umask(0);
  ::umask(mask);
  bool ok = true;
  temporaryCount = 0;
  for (const OutputFile& f : files) {
    std::string temporary = FolderOf(f.path) + "/.setup-package-XXXXXX";
    if (temporary.size() >= sizeof temporaries[0]) {
      *error = f.path + ": path too long", ok = false;
      break;
    }
    std::memcpy(temporaries[temporaryCount], temporary.c_str(), temporary.size() + 1);
    const int fd = ::mkstemp(temporaries[temporaryCount]);
    if (fd < 0) {
      *error = Reason(FolderOf(f.path)), ok = false;
      break;
    }
    temporaryCount = temporaryCount + 1;
    // mkstemp makes the file private; the output gets the usual mode.
    ok = WriteAll(fd, f.bytes) && ::fsync(fd) == 0 && ::fchmod(fd, 0644 & ~mask) == 0;
    if (::close(fd) != 0) ok = false;
    if (!ok) {
      *error = Reason(f.path);
      break;
    }
  }
  // All written: each takes its name (without --force only while the name is
  // still free). Otherwise none does.
  for (size_t i = 0; ok && i < files.size(); ++i) {
    const char* temporary = temporaries[i];
    const int renamed = existing == Existing::kRefuse
                            ? ::renameat2(AT_FDCWD, temporary, AT_FDCWD, files[i].path.c_str(), RENAME_NOREPLACE)
                            : ::rename(temporary, files[i].path.c_str());
    if (renamed != 0) {
      *error = errno == EEXIST ? files[i].path + ": exists (use --force to replace it)" : Reason(files[i].path);
      ok = false;
      for (size_t k = 0; k < i; ++k) ::unlink(files[k].path.c_str());  // what this call renamed
    }
    temporaries[i][0] = 0;
  }
  for (int i = 0; i < temporaryCount; ++i) {
    if (temporaries[i][0] != 0) ::unlink(temporaries[i]);
  }
  temporaryCount = 0;
  return ok;
}

bool WriteOutputFile(const std::string& path, const packaging::Bytes& bytes, Existing existing,
                     std::string* error) {
  return WriteOutputFiles({OutputFile{path, bytes}}, existing, error);
}

}  // namespace tool
