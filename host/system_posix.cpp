// The system seam on Linux (POSIX, with Linux's renameat2 and mremap): only
// what every supported Linux has.
#include "host/system.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;
extern "C" char __executable_start;  // where the program is loaded (GNU ld)

namespace sys {

namespace {

std::string Reason(int error) { return std::strerror(error); }
std::string Reason(const std::string& path) { return path + ": " + Reason(errno); }

int Fd(File file) { return static_cast<int>(file); }

// The registered temporaries (fixed storage: a signal handler may only
// unlink them) and the folder made for them.
constexpr int kMaxTemporaries = 8;
char temporaries[kMaxTemporaries][4096];
volatile sig_atomic_t temporaryCount = 0;
char madeFolder[4096];

extern "C" void RemoveTemporariesAndEnd(int signal) {
  RemoveTemporaries();
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void WatchInterruptions() {
  static bool watching = false;
  if (watching) return;
  watching = true;
  for (int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, RemoveTemporariesAndEnd);
}

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

int CreateTemporary(const std::string& beside, File* file, std::string* error) {
  int slot = 0;
  while (slot < temporaryCount && temporaries[slot][0] != 0) ++slot;
  if (slot >= kMaxTemporaries) return *error = "too many outputs at once", -1;
  const std::string folder = FolderOf(beside);
  const std::string temporary = folder + "/.setup-package-XXXXXX";
  if (temporary.size() >= sizeof temporaries[0]) return *error = beside + ": path too long", -1;
  WatchInterruptions();
  // The name is in place before the file exists, so a signal never misses it.
  std::memcpy(temporaries[slot], temporary.c_str(), temporary.size() + 1);
  if (slot == temporaryCount) temporaryCount = temporaryCount + 1;
  const int fd = ::mkostemp(temporaries[slot], O_CLOEXEC);
  if (fd < 0) {
    *error = Reason(folder);
    temporaries[slot][0] = 0;
    ReleaseTemporary(slot);
    return -1;
  }
  *file = fd;
  return slot;
}

std::string TemporaryPath(int slot) { return slot < 0 ? "" : temporaries[slot]; }

void ForgetTemporary(int slot) {
  if (slot >= 0) temporaries[slot][0] = 0;
}

void ReleaseTemporary(int slot) {
  if (slot < 0) return;
  if (temporaries[slot][0] != 0) ::unlink(temporaries[slot]);
  temporaries[slot][0] = 0;
  while (temporaryCount > 0 && temporaries[temporaryCount - 1][0] == 0) temporaryCount = temporaryCount - 1;
}

bool RegisterMadeFolder(const std::string& folder) {
  if (folder.size() >= sizeof madeFolder) return false;
  WatchInterruptions();
  std::memcpy(madeFolder, folder.c_str(), folder.size() + 1);
  return true;
}

void ForgetMadeFolder() { madeFolder[0] = 0; }

void RemoveMadeFolder() {
  if (madeFolder[0] != 0) ::rmdir(madeFolder);
  madeFolder[0] = 0;
}

void RemoveTemporaries() {
  for (int i = 0; i < temporaryCount; ++i) {
    if (temporaries[i][0] != 0) ::unlink(temporaries[i]);
  }
  if (madeFolder[0] != 0) ::rmdir(madeFolder);
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

Kind KindOf(const std::string& path) {
  struct stat s;
  if (::stat(path.c_str(), &s) != 0) return Kind::kMissing;
  if (S_ISREG(s.st_mode)) return Kind::kRegular;
  return S_ISDIR(s.st_mode) ? Kind::kFolder : Kind::kOther;
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

bool IsAbsolute(const std::string& path) { return !path.empty() && path[0] == '/'; }

std::string ToolFolder() {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  self[n] = 0;
  return FolderOf(self);
}

std::string InstalledLauncherOf(const std::string& toolFolder) {
  // bin/setup-package and share/setup-package/launcher.exe
  if (toolFolder.empty()) return "share/setup-package/launcher.exe";
  return FolderOf(toolFolder) + "/share/setup-package/launcher.exe";
}

std::string QuotedForCommand(const std::string& path) {
  std::string out = "'";
  for (char c : path) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

int RunCommand(const std::string& command, bool quiet, size_t keep, std::string* errors) {
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (quiet) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  } else {
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  }
  posix_spawn_file_actions_adddup2(&actions, pipe[1], STDERR_FILENO);
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  pid_t pid = -1;
  const int started = ::posix_spawn(&pid, "/bin/sh", &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe[1]);
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) != 0;) {
    if (n > 0) {
      errors->append(buffer, size_t(n));
      if (errors->size() > 2 * keep) errors->erase(0, errors->size() - keep);
    } else if (errno != EINTR) {
      break;
    }
  }
  if (errors->size() > keep) errors->erase(0, errors->size() - keep);
  ::close(pipe[0]);
  if (started != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void* MapBlock(size_t size) {
  void* block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return block == MAP_FAILED ? nullptr : block;
}

void* ResizeBlock(void* block, size_t oldSize, size_t size) {
  void* moved = ::mremap(block, oldSize, size, MREMAP_MAYMOVE);
  return moved == MAP_FAILED ? nullptr : moved;
}

void FreeBlock(void* block, size_t size) { ::munmap(block, size); }

uintptr_t ProgramBase() { return reinterpret_cast<uintptr_t>(&__executable_start); }

void PrepareStandardStreams() {}

bool ErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void WriteRaw(int stream, const char* text, size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(stream == 1 ? STDOUT_FILENO : STDERR_FILENO, text, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n, count -= size_t(n);
  }
}

void EndNow(int status) { ::_exit(status); }

}  // namespace sys
