// The tool's temporary files on Windows, removed on Ctrl+C, Ctrl+Break and
// a closed console (from the console's handler thread: they are opened to be
// deleted while open).
#include "host/system/windows/win32_api.h"

#include <cstring>

#include "host/system/temporaries.h"

namespace sys {

using namespace win32;

namespace {

// The registered temporaries, in the form DeleteFileW takes (fixed storage:
// the console's handler runs on a thread of its own while the tool works),
// and their UTF-8 names.
constexpr int kMaxTemporaries = 8;
constexpr size_t kLongestPath = 32768;
wchar_t temporaries[kMaxTemporaries][kLongestPath];
std::string temporaryNames[kMaxTemporaries];
volatile LONG temporaryCount = 0;
wchar_t madeFolder[kLongestPath];

BOOL WINAPI RemoveTemporariesAndEnd(DWORD) {
  RemoveTemporaries();
  return FALSE;  // the default handler ends the process
}

void WatchInterruptions() {
  static bool watching = false;
  if (watching) return;
  watching = true;
  SetConsoleCtrlHandler(RemoveTemporariesAndEnd, TRUE);
}

bool Hold(wchar_t (&to)[kLongestPath], const std::wstring& path) {
  if (path.size() >= kLongestPath) return false;
  std::memcpy(to, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
  return true;
}

}  // namespace

int CreateTemporary(const std::string& beside, File* file, std::string* error) {
  int slot = 0;
  while (slot < temporaryCount && temporaries[slot][0] != 0) ++slot;
  if (slot >= kMaxTemporaries) return *error = "too many outputs at once", -1;
  const std::string folder = FolderOf(beside);
  WatchInterruptions();
  static uint32_t seed = GetCurrentProcessId() * 2654435761u ^ GetTickCount();
  for (int attempt = 0; attempt < 100; ++attempt) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string name = ".setup-package-";
    for (int i = 0; i < 6; ++i) {
      seed = seed * 1664525u + 1013904223u;
      name += kLetters[(seed >> 16) % (sizeof kLetters - 1)];
    }
    const std::string path = folder + "\\" + name;
    // The name is in place before the file exists, so an interruption never
    // misses it.
    if (!Hold(temporaries[slot], SystemPath(path))) return *error = beside + ": path too long", -1;
    if (slot == temporaryCount) InterlockedIncrement(&temporaryCount);
    const HANDLE h = CreateFileW(temporaries[slot], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      temporaryNames[slot] = path;
      *file = FileOf(h);
      return slot;
    }
    const DWORD why = GetLastError();
    temporaries[slot][0] = 0;
    if (why != ERROR_FILE_EXISTS && why != ERROR_ALREADY_EXISTS) {
      ReleaseTemporary(slot);
      return *error = folder + ": " + Reason(why), -1;
    }
  }
  ReleaseTemporary(slot);
  return *error = folder + ": no free name for a temporary file", -1;
}

std::string TemporaryPath(int slot) { return slot < 0 || temporaries[slot][0] == 0 ? "" : temporaryNames[slot]; }

void ForgetTemporary(int slot) {
  if (slot >= 0) temporaries[slot][0] = 0;
}

void ReleaseTemporary(int slot) {
  if (slot < 0) return;
  // A program given the name may have made a folder of it.
  if (temporaries[slot][0] != 0 && !DeleteFileW(temporaries[slot])) RemoveDirectoryW(temporaries[slot]);
  temporaries[slot][0] = 0;
  while (temporaryCount > 0 && temporaries[temporaryCount - 1][0] == 0) InterlockedDecrement(&temporaryCount);
}

bool RegisterMadeFolder(const std::string& folder) {
  WatchInterruptions();
  return Hold(madeFolder, SystemPath(folder));
}

void ForgetMadeFolder() { madeFolder[0] = 0; }

void RemoveMadeFolder() {
  if (madeFolder[0] != 0) RemoveDirectoryW(madeFolder);
  madeFolder[0] = 0;
}

void RemoveTemporaries() {
  for (LONG i = 0; i < temporaryCount; ++i) {
    if (temporaries[i][0] != 0) DeleteFileW(temporaries[i]);
  }
  if (madeFolder[0] != 0) RemoveDirectoryW(madeFolder);
}

}  // namespace sys
