#include "tools/package_tool/input_files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "tools/package_tool/commands.h"
#include "tools/package_tool/output_files.h"
#include "tools/package_tool/report.h"

namespace tool {

namespace {

std::string Reason(const std::string& path) { return path + ": " + std::strerror(errno); }

// Opens an input that must be a regular file, without waiting (a FIFO would
// block the open until someone writes to it): its descriptor and size, or -1
// with the reason in *error.
int OpenInput(const std::string& path, struct stat* s, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return *error = Reason(path), -1;
  if (::fstat(fd, s) != 0) {
    *error = Reason(path);
    ::close(fd);
    return -1;
  }
  if (!S_ISREG(s->st_mode)) {
    *error = path + (S_ISDIR(s->st_mode) ? ": is a directory" : ": not a regular file");
    ::close(fd);
    return -1;
  }
  return fd;
}

// The mapped inputs (fixed storage, for the handler below).
constexpr int kMaxMappings = 4;
struct Mapping {
  const volatile char* start;
  size_t size;
};
Mapping mappings[kMaxMappings];
volatile sig_atomic_t mappingCount = 0;

// A fault inside a mapped input: the file shrank under the tool and its
// pages are gone. Any other fault ends the process as it would have.
extern "C" void InputShrank(int signal, siginfo_t* info, void*) {
  static const char kSentence[] = "setup-package: an input file shrank while it was being read\n";
  const volatile char* at = static_cast<const volatile char*>(info->si_addr);
  for (int i = 0; i < mappingCount; ++i) {
    if (at >= mappings[i].start && at < mappings[i].start + mappings[i].size) {
      RemoveTemporaries();  // async-signal-safe
      (void)!::write(STDERR_FILENO, kSentence, sizeof kSentence - 1);
      if (JsonErrorPending()) {
        static_assert(kJsonSchemaVersion == 1, "the document below says its schema version");
        static const char kDocument[] =
            "{\n  \"schemaVersion\": 1,\n  \"error\": \"an input file shrank while it was being read\",\n"
            "  \"exitStatus\": 3\n}\n";
        (void)!::write(STDOUT_FILENO, kDocument, sizeof kDocument - 1);
      }
      ::_exit(3);
    }
  }
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void WatchShrinking() {
  static bool watching = false;
  if (watching) return;
  watching = true;
  struct sigaction action {};
  action.sa_sigaction = InputShrank;
  action.sa_flags = SA_SIGINFO;
  ::sigaction(SIGBUS, &action, nullptr);
}

}  // namespace

bool ReadInputFile(const std::string& path, packaging::Bytes* out, std::string* error) {
  struct stat s;
  const int fd = OpenInput(path, &s, error);
  if (fd < 0) return false;
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

bool MapInputFile(const std::string& path, MappedFile* out, std::string* error) {
  struct stat s;
  const int fd = OpenInput(path, &s, error);
  if (fd < 0) return false;
  const size_t size = static_cast<size_t>(s.st_size);
  *out = MappedFile();
  if (size > 0) {
    void* at = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (at == MAP_FAILED) {
      *error = errno == ENOMEM ? path + ": " + std::to_string(size) + " bytes, more than this machine can map at once"
                               : Reason(path);
      ::close(fd);
      return false;
    }
    WatchShrinking();
    if (mappingCount < kMaxMappings) {
      mappings[mappingCount] = Mapping{static_cast<const volatile char*>(at), size};
      mappingCount = mappingCount + 1;
    }
    out->bytes = host::ByteView(static_cast<const uint8_t*>(at), size);
    out->owner = std::shared_ptr<const void>(at, [size](const void* p) { ::munmap(const_cast<void*>(p), size); });
  }
  ::close(fd);
  return true;
}

bool OpenPieceSource(const std::string& path, packaging::PieceSource* out, std::string* error) {
  struct stat s;
  const int fd = OpenInput(path, &s, error);
  if (fd < 0) return false;
  const std::shared_ptr<int> owner(new int(fd), [](int* f) {
    ::close(*f);
    delete f;
  });
  out->size = static_cast<uint64_t>(s.st_size);
  out->read = [owner, path](uint64_t offset, uint8_t* to, size_t count, std::string* why) {
    while (count > 0) {
      const ssize_t n = ::pread(*owner, to, count, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return *why = Reason(path), false;
      if (n == 0) return *why = path + ": the file shrank while it was being read", false;
      to += n, offset += uint64_t(n), count -= size_t(n);
    }
    return true;
  };
  return true;
}

}  // namespace tool
