// Files on Linux (POSIX, with Linux's renameat2): only what every supported
// Linux has.
#include "host/system/files.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/system/posix/posix.h"

namespace sys {

using posix::Fd;
using posix::Reason;

namespace {

// The mapped inputs (fixed storage, for the handler below).
constexpr int kMaxMappings = 4;
struct Mapped {
  const volatile char* start;
  size_t size;
};
Mapped mappings[kMaxMappings];
volatile sig_atomic_t mappingCount = 0;
void (*shrinkReport)() = nullptr;

// A fault inside a mapped input: the file shrank under the tool and its
// pages are gone. Any other fault ends the process as it would have.
extern "C" void InputShrank(int signal, siginfo_t* info, void*) {
  const volatile char* at = static_cast<const volatile char*>(info->si_addr);
  for (int i = 0; i < mappingCount; ++i) {
    if (at >= mappings[i].start && at < mappings[i].start + mappings[i].size) {
      if (shrinkReport != nullptr) shrinkReport();
      ::_exit(3);
    }
  }
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

}  // namespace

bool OpenInput(const std::string& path, File* file, uint64_t* size, std::string* error) {
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
  *file = fd;
  *size = static_cast<uint64_t>(s.st_size);
  return true;
}

int64_t ReadAt(File file, uint64_t offset, uint8_t* to, size_t count, std::string* reason) {
  for (;;) {
    const ssize_t n = ::pread(Fd(file), to, count, static_cast<off_t>(offset));
    if (n >= 0) return n;
    if (errno != EINTR) return *reason = Reason(errno), -1;
  }
}

bool Close(File file, std::string* reason) {
  if (::close(Fd(file)) == 0) return true;
  if (reason != nullptr) *reason = Reason(errno);
  return false;
}

void OnMappedInputShrank(void (*report)()) { shrinkReport = report; }

bool MapInput(const std::string& path, Mapping* out, std::string* error) {
  File file;
  uint64_t size;
  if (!OpenInput(path, &file, &size, error)) return false;
  *out = Mapping();
  if (size > 0) {
    void* at = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, Fd(file), 0);
    if (at == MAP_FAILED) {
      *error = errno == ENOMEM ? path + ": " + std::to_string(size) + " bytes, more than this machine can map at once"
                               : Reason(path);
      ::close(Fd(file));
      return false;
    }
    static bool watching = false;
    if (!watching) {
      watching = true;
      struct sigaction action {};
      action.sa_sigaction = InputShrank;
      action.sa_flags = SA_SIGINFO;
      ::sigaction(SIGBUS, &action, nullptr);
    }
    if (mappingCount < kMaxMappings) {
      mappings[mappingCount] = Mapped{static_cast<const volatile char*>(at), size_t(size)};
      mappingCount = mappingCount + 1;
    }
    out->data = static_cast<const uint8_t*>(at);
    out->size = size;
    out->owner = std::shared_ptr<const void>(at, [size](const void* p) { ::munmap(const_cast<void*>(p), size); });
  }
  ::close(Fd(file));
  return true;
}

bool WriteAt(File file, uint64_t offset, const uint8_t* bytes, size_t count, std::string* reason) {
  while (count > 0) {
    const ssize_t n = ::pwrite(Fd(file), bytes, count, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : ENOSPC;
      // EFAULT: the bytes came from a mapped input that shrank under us.
      *reason = error == EFAULT ? "an input file shrank while it was being read" : Reason(error);
      return false;
    }
    bytes += n, offset += uint64_t(n), count -= size_t(n);
  }
  return true;
}

bool Finish(File file, std::string* reason) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fsync(Fd(file)) == 0 && ::fchmod(Fd(file), 0644 & ~mask) == 0) return true;
  *reason = Reason(errno);
  return false;
}

bool FinishPath(const std::string& path, std::string* reason) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return *reason = Reason(errno), false;
  const bool ok = Finish(fd, reason);
  ::close(fd);
  return ok;
}

Outcome RenameFile(const std::string& from, const std::string& to, Rename how, std::string* reason) {
  int result;
  if (how == Rename::kReplace) {
    result = ::rename(from.c_str(), to.c_str());
  } else {
    result = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(),
                         how == Rename::kNoReplace ? RENAME_NOREPLACE : RENAME_EXCHANGE);
  }
  if (result == 0) return Outcome::kDone;
  if (how == Rename::kNoReplace && errno == EEXIST) return Outcome::kExists;
  // Nothing there to swap with, or a file system that cannot swap.
  if (how == Rename::kExchange && (errno == ENOENT || errno == EINVAL)) return Outcome::kNothingToExchange;
  *reason = Reason(errno);
  return Outcome::kFailed;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

FileKind KindOf(const std::string& path) {
  struct stat s;
  if (::stat(path.c_str(), &s) != 0) return FileKind::kMissing;
  if (S_ISREG(s.st_mode)) return FileKind::kRegular;
  return S_ISDIR(s.st_mode) ? FileKind::kFolder : FileKind::kOther;
}

bool Exists(const std::string& path) {
  struct stat s;
  return ::lstat(path.c_str(), &s) == 0;
}

Outcome MakeFolder(const std::string& path, std::string* reason) {
  if (::mkdir(path.c_str(), 0755) == 0) return Outcome::kDone;
  if (errno == EEXIST) return Outcome::kExists;
  *reason = Reason(errno);
  return Outcome::kFailed;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

bool IsAbsolute(const std::string& path) { return !path.empty() && path[0] == '/'; }

}  // namespace sys
