#include "tools/package_tool/output_files.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/package_tool/tool_paths.h"

namespace tool {

namespace {

std::string Reason(const std::string& path) { return path + ": " + std::strerror(errno); }

// The temporary files being written, removed when the process is
// interrupted (SIGINT, SIGTERM, SIGHUP) so that none is left behind. Fixed
// storage: the handler may only unlink.
constexpr int kMaxTemporaries = 8;
char temporaries[kMaxTemporaries][4096];
volatile sig_atomic_t temporaryCount = 0;

// A folder made for the outputs, removed with them when none is committed.
char madeFolder[4096];

}  // namespace

void RemoveTemporaries() {
  for (int i = 0; i < temporaryCount; ++i) {
    if (temporaries[i][0] != 0) ::unlink(temporaries[i]);
  }
  if (madeFolder[0] != 0) ::rmdir(madeFolder);
}

namespace {

// Removes the slot's file unless it was renamed (its name cleared), and
// frees the slot.
void ReleaseTemporary(int slot) {
  if (slot < 0) return;
  if (temporaries[slot][0] != 0) ::unlink(temporaries[slot]);
  temporaries[slot][0] = 0;
  while (temporaryCount > 0 && temporaries[temporaryCount - 1][0] == 0) temporaryCount = temporaryCount - 1;
}

// Flushes a finished output and gives it the usual mode (mkstemp makes it
// private).
bool Finish(int fd) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return ::fsync(fd) == 0 && ::fchmod(fd, 0644 & ~mask) == 0;
}

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

// Makes a new temporary file beside `path` in a free slot: its slot and open
// descriptor, or -1 with *error.
int MakeTemporary(const std::string& path, int* fd, std::string* error) {
  int slot = 0;
  while (slot < temporaryCount && temporaries[slot][0] != 0) ++slot;
  if (slot >= kMaxTemporaries) return *error = "too many outputs at once", -1;
  const std::string temporary = FolderOf(path) + "/.setup-package-XXXXXX";
  if (temporary.size() >= sizeof temporaries[0]) return *error = path + ": path too long", -1;
  WatchInterruptions();
  // The name is in place before the file exists, so a signal never misses it.
  std::memcpy(temporaries[slot], temporary.c_str(), temporary.size() + 1);
  if (slot == temporaryCount) temporaryCount = temporaryCount + 1;
  *fd = ::mkstemp(temporaries[slot]);
  if (*fd < 0) {
    *error = Reason(FolderOf(path));
    temporaries[slot][0] = 0;
    ReleaseTemporary(slot);
    return -1;
  }
  return slot;
}

}  // namespace

bool ScratchFile::Create(const std::string& near, std::string* error) {
  fd_ = -1;
  slot_ = MakeTemporary(near, &fd_, error);
  if (slot_ < 0) return false;
  path_ = temporaries[slot_];
  return true;
}

ScratchFile::~ScratchFile() {
  if (fd_ >= 0) ::close(fd_);
  ReleaseTemporary(slot_);
}

bool ScratchFile::Publish(const std::string& path, std::string* error) {
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  const bool ok = fd >= 0 && Finish(fd);
  if (fd >= 0) ::close(fd);
  if (!ok || ::rename(path_.c_str(), path.c_str()) != 0) return *error = Reason(path), false;
  temporaries[slot_][0] = 0;
  return true;
}

OutputSet::~OutputSet() { Abandon(); }

void OutputSet::Abandon() {
  for (Output& o : outputs_) {
    if (o.fd >= 0) ::close(o.fd);
    o.fd = -1;
  }
  for (Output& o : outputs_) ReleaseTemporary(o.slot), o.slot = -1;
  outputs_.clear();
  if (madeFolder[0] != 0) ::rmdir(madeFolder);
  madeFolder[0] = 0;
}

bool OutputSet::MadeFolder(const std::string& folder) {
  if (folder.size() >= sizeof madeFolder) return false;
  WatchInterruptions();
  std::memcpy(madeFolder, folder.c_str(), folder.size() + 1);
  return true;
}

int OutputSet::Add(const std::string& path, std::string* error) {
  struct stat s;
  if (::lstat(path.c_str(), &s) == 0) {
    if (existing_ == Existing::kRefuse) return *error = path + ": exists (use --force to replace it)", -1;
    if (S_ISDIR(s.st_mode)) return *error = path + ": is a directory", -1;
  }
  int fd = -1;
  const int slot = MakeTemporary(path, &fd, error);
  if (slot < 0) return -1;
  Output o;
  o.path = path;
  o.fd = fd;
  o.slot = slot;
  outputs_.push_back(o);
  return static_cast<int>(outputs_.size()) - 1;
}

void OutputSet::Write(int index, const uint8_t* bytes, size_t count) {
  Output& o = outputs_[index];
  size_t done = 0;
  while (o.error == 0 && done < count) {
    const ssize_t n = ::write(o.fd, bytes + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    // EFAULT: the bytes came from a mapped input that shrank under us.
    if (n <= 0) o.error = n < 0 ? errno : ENOSPC;
    else done += static_cast<size_t>(n);
  }
  o.written += done;
}

void OutputSet::Drop(int index) { outputs_[index].dropped = true; }

bool OutputSet::Commit(std::string* error) {
  bool ok = true;
  for (Output& o : outputs_) {
    if (o.dropped) continue;
    if (o.error != 0) errno = o.error;
    if (o.error != 0 || !Finish(o.fd)) {
      *error = o.error == EFAULT ? "an input file shrank while it was being read" : Reason(o.path), ok = false;
      break;
    }
  }
  for (Output& o : outputs_) {
    if (::close(o.fd) != 0 && ok && !o.dropped) *error = Reason(o.path), ok = false;
    o.fd = -1;
  }
  // All written: each takes its name (without --force only while the name is
  // still free). An existing file is swapped with its replacement, so that it
  // stays in the temporary name until every output has its name; on any
  // failure the swaps are undone and the new names removed, leaving the
  // folder as it was.
  struct Done {
    const Output* output;
    bool swapped;  // the old file is now in the temporary name
  };
  std::vector<Done> done;
  for (size_t i = 0; ok && i < outputs_.size(); ++i) {
    const Output& o = outputs_[i];
    if (o.dropped) continue;
    const char* temporary = temporaries[o.slot];
    bool swapped = false;
    int result;
    if (existing_ == Existing::kRefuse) {
      result = ::renameat2(AT_FDCWD, temporary, AT_FDCWD, o.path.c_str(), RENAME_NOREPLACE);
    } else {
      result = ::renameat2(AT_FDCWD, temporary, AT_FDCWD, o.path.c_str(), RENAME_EXCHANGE);
      swapped = result == 0;
      // Nothing there to keep, or a file system that cannot swap.
      if (result != 0 && (errno == ENOENT || errno == EINVAL)) result = ::rename(temporary, o.path.c_str());
    }
    if (result != 0) {
      *error = errno == EEXIST ? o.path + ": exists (use --force to replace it)" : Reason(o.path);
      ok = false;
      break;
    }
    done.push_back({&o, swapped});
  }
  for (auto d = done.rbegin(); d != done.rend(); ++d) {
    char* temporary = temporaries[d->output->slot];
    if (ok) {
      if (!d->swapped) temporary[0] = 0;  // the old file, if swapped, goes with the temporary
    } else if (d->swapped) {
      ::renameat2(AT_FDCWD, temporary, AT_FDCWD, d->output->path.c_str(), RENAME_EXCHANGE);
    } else {
      ::unlink(d->output->path.c_str());
      temporary[0] = 0;
    }
  }
  if (ok) madeFolder[0] = 0;
  return ok;
}

bool FileSink::WriteAt(uint64_t offset, const uint8_t* bytes, size_t count) {
  while (error_ == 0 && count > 0) {
    const ssize_t n = ::pwrite(fd_, bytes, count, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) error_ = n < 0 ? errno : ENOSPC;
    else bytes += n, offset += uint64_t(n), count -= size_t(n);
  }
  return error_ == 0;
}

bool FileSink::Append(const uint8_t* bytes, size_t count) {
  sum_.Add(size_, bytes, count);
  size_ += count;
  return WriteAt(size_ - count, bytes, count);
}

bool FileSink::Put(uint64_t offset, const uint8_t* bytes, size_t count) {
  // What is written over leaves the checksum.
  std::vector<uint8_t> old(count);
  for (size_t done = 0; error_ == 0 && done < count;) {
    const ssize_t n = ::pread(fd_, old.data() + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) error_ = n < 0 ? errno : EIO;
    else done += size_t(n);
  }
  if (error_ != 0) return false;
  sum_.Remove(offset, old.data(), count);
  sum_.Add(offset, bytes, count);
  return WriteAt(offset, bytes, count);
}

std::string FileSink::Reason() const { return path_ + ": " + std::strerror(error_); }

bool FileSink::Finish() {
  const uint32_t value = sum_.Value(size_);
  const uint8_t field[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
  return WriteAt(checkSumOffset_, field, sizeof field);
}

bool WriteOutputFile(const std::string& path, const packaging::Bytes& bytes, Existing existing,
                     std::string* error) {
  OutputSet set(existing);
  const int index = set.Add(path, error);
  if (index < 0) return false;
  set.Write(index, bytes.data(), bytes.size());
  return set.Commit(error);
}

}  // namespace tool
