// The tool's temporary files on Linux, removed on SIGINT, SIGTERM and SIGHUP.
#include "host/system/temporaries.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include "host/system/posix/posix.h"

namespace sys {

using posix::Reason;

namespace {

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

}  // namespace

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
  // A program given the name may have made a folder of it.
  if (temporaries[slot][0] != 0 && ::unlink(temporaries[slot]) != 0) ::rmdir(temporaries[slot]);
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

}  // namespace sys
