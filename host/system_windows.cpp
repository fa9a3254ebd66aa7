// The system seam on Windows: only what every supported Windows (7 and
// later, 64-bit) has. Paths are converted to wide, absolute paths with the
// \\?\ prefix at each call, so long paths, UNC paths and both slash kinds
// work; the tool above sees UTF-8 only.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/system.h"
#include "host/utf.h"
#include "host/windows_paths.h"

namespace sys {

namespace {

HANDLE Handle(File file) { return reinterpret_cast<HANDLE>(file); }
File FileOf(HANDLE handle) { return reinterpret_cast<File>(handle); }

std::wstring Wide(const std::string& utf8) {
  std::u16string text;
  if (!host::Utf8ToUtf16(utf8, &text)) {
    // Not valid UTF-8 (the tool refuses such text before it gets here): each
    // byte as its own character, so that the call fails with a reason.
    text.assign(utf8.begin(), utf8.end());
  }
  return std::wstring(text.begin(), text.end());
}

std::string Utf8(const wchar_t* text, size_t count) {
  return host::Utf16ToWtf8(std::u16string(reinterpret_cast<const char16_t*>(text), count));
}

// The path as the system takes it whatever its length: absolute, with
// backslashes, in its extended-length form.
std::wstring SystemPath(const std::string& path) {
  const std::wstring wide = Wide(path);
  const DWORD room = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (room == 0) return wide;
  std::wstring full(room, L'\0');
  const DWORD n = GetFullPathNameW(wide.c_str(), room, &full[0], nullptr);
  if (n == 0 || n >= room) return wide;
  const std::u16string extended = host::ExtendedLengthPath(std::u16string(full.begin(), full.begin() + n));
  return std::wstring(extended.begin(), extended.end());
}

// The reason for a Windows error, in the words the POSIX definition uses for
// the same failure.
std::string Reason(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_DRIVE:
      return "No such file or directory";
    case ERROR_ACCESS_DENIED:
      return "Permission denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return "the file is in use by another program (close it and try again)";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "No space left on device";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return "File exists";
    case ERROR_WRITE_PROTECT:
      return "Read-only file system";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return "Cannot allocate memory";
    case ERROR_FILENAME_EXCED_RANGE:
      return "File name too long";
    case ERROR_DIRECTORY:
      return "Not a directory";
    case ERROR_NOACCESS:
      return "an input file shrank while it was being read";
    default:
      break;
  }
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                 reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string reason = n > 0 ? Utf8(text, n) : "";
  if (text != nullptr) LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.' ||
                             reason.back() == ' ')) {
    reason.pop_back();
  }
  return (reason.empty() ? "error" : reason) + " (Windows error " + std::to_string(error) + ")";
}
std::string Reason(const std::string& path) { return path + ": " + Reason(GetLastError()); }

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

constexpr size_t kLargestCall = size_t(1) << 30;

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

// The mapped inputs, for the handler below.
constexpr int kMaxMappings = 4;
struct Mapped {
  const char* start;
  size_t size;
};
Mapped mappings[kMaxMappings];
volatile LONG mappingCount = 0;
void (*shrinkReport)() = nullptr;

// A page of a mapped input that could not be read in: the file is gone or
// cut (a network share, a removable disk). Anything else is not ours.
LONG CALLBACK InputShrank(EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD* record = exception->ExceptionRecord;
  if (record->ExceptionCode != EXCEPTION_IN_PAGE_ERROR || record->NumberParameters < 2) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  const char* at = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
  for (LONG i = 0; i < mappingCount; ++i) {
    if (at >= mappings[i].start && at < mappings[i].start + mappings[i].size) {
      if (shrinkReport != nullptr) shrinkReport();
      EndNow(3);
    }
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

// A handle for looking at what is at a path (no access asked, links
// followed, folders too).
HANDLE OpenToLook(const std::string& path) {
  return CreateFileW(SystemPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

UINT consoleCodePage = 0;
void RestoreConsole() {
  if (consoleCodePage != 0) SetConsoleOutputCP(consoleCodePage);
}

// An inheritable handle on NUL, for a child's unused standard streams.
HANDLE Nul(DWORD access) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
}

}  // namespace

bool OpenInput(const std::string& path, File* file, uint64_t* size, std::string* error) {
  // Others may read it meanwhile, never write it: a file being written by
  // another program is refused with a sentence instead of read half-made.
  const HANDLE h = CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return *error = Reason(path), false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool disk = GetFileType(h) == FILE_TYPE_DISK;
  if (!disk || !GetFileInformationByHandle(h, &info)) {
    *error = path + ": not a regular file";
    CloseHandle(h);
    return false;
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    *error = path + ": is a directory";
    CloseHandle(h);
    return false;
  }
  *file = FileOf(h);
  *size = uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  return true;
}

int64_t ReadAt(File file, uint64_t offset, uint8_t* to, size_t count, std::string* reason) {
  OVERLAPPED at = At(offset);
  DWORD n = 0;
  if (!ReadFile(Handle(file), to, static_cast<DWORD>(std::min(count, kLargestCall)), &n, &at)) {
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;
    return *reason = Reason(GetLastError()), -1;
  }
  return n;
}

bool Close(File file, std::string* reason) {
  if (CloseHandle(Handle(file))) return true;
  if (reason != nullptr) *reason = Reason(GetLastError());
  return false;
}

void OnMappedInputShrank(void (*report)()) { shrinkReport = report; }

bool MapInput(const std::string& path, Mapping* out, std::string* error) {
  File file;
  uint64_t size;
  if (!OpenInput(path, &file, &size, error)) return false;
  *out = Mapping();
  if (size > 0) {
    const HANDLE mapping = CreateFileMappingW(Handle(file), nullptr, PAGE_READONLY, 0, 0, nullptr);
    void* at = mapping == nullptr ? nullptr : MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    const DWORD why = GetLastError();
    if (mapping != nullptr) CloseHandle(mapping);
    if (at == nullptr) {
      *error = why == ERROR_NOT_ENOUGH_MEMORY
                   ? path + ": " + std::to_string(size) + " bytes, more than this machine can map at once"
                   : path + ": " + Reason(why);
      CloseHandle(Handle(file));
      return false;
    }
    static bool watching = false;
    if (!watching) {
      watching = true;
      AddVectoredExceptionHandler(1, InputShrank);
    }
    if (mappingCount < kMaxMappings) {
      mappings[mappingCount] = Mapped{static_cast<const char*>(at), size_t(size)};
      InterlockedIncrement(&mappingCount);
    }
    out->data = static_cast<const uint8_t*>(at);
    out->size = size;
    out->owner = std::shared_ptr<const void>(at, [](const void* p) { UnmapViewOfFile(p); });
  }
  CloseHandle(Handle(file));
  return true;
}

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
  if (temporaries[slot][0] != 0) DeleteFileW(temporaries[slot]);
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

bool WriteAt(File file, uint64_t offset, const uint8_t* bytes, size_t count, std::string* reason) {
  while (count > 0) {
    OVERLAPPED at = At(offset);
    DWORD n = 0;
    if (!WriteFile(Handle(file), bytes, static_cast<DWORD>(std::min(count, kLargestCall)), &n, &at)) {
      return *reason = Reason(GetLastError()), false;
    }
    if (n == 0) return *reason = Reason(ERROR_DISK_FULL), false;
    bytes += n, offset += n, count -= n;
  }
  return true;
}

bool Finish(File file, std::string* reason) {
  if (FlushFileBuffers(Handle(file))) return true;
  *reason = Reason(GetLastError());
  return false;
}

bool FinishPath(const std::string& path, std::string* reason) {
  const HANDLE h = CreateFileW(SystemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return *reason = Reason(GetLastError()), false;
  const bool ok = Finish(FileOf(h), reason);
  CloseHandle(h);
  return ok;
}

Outcome RenameFile(const std::string& from, const std::string& to, Rename how, std::string* reason) {
  const std::wstring source = SystemPath(from), target = SystemPath(to);
  if (how == Rename::kExchange) {
    // Windows cannot swap two names in one step: the old file steps aside,
    // the new one takes its name, and the old one takes the new one's.
    if (GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) return Outcome::kNothingToExchange;
    const std::wstring aside = source + L".old";
    if (!MoveFileExW(target.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) {
      return *reason = Reason(GetLastError()), Outcome::kFailed;
    }
    if (!MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
      *reason = Reason(GetLastError());
      MoveFileExW(aside.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
      return Outcome::kFailed;
    }
    MoveFileExW(aside.c_str(), source.c_str(), MOVEFILE_WRITE_THROUGH);
    return Outcome::kDone;
  }
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (how == Rename::kReplace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (MoveFileExW(source.c_str(), target.c_str(), flags)) return Outcome::kDone;
  const DWORD why = GetLastError();
  if (how == Rename::kNoReplace && (why == ERROR_ALREADY_EXISTS || why == ERROR_FILE_EXISTS)) return Outcome::kExists;
  *reason = Reason(why);
  return Outcome::kFailed;
}

bool RemoveFile(const std::string& path) { return DeleteFileW(SystemPath(path).c_str()) != 0; }

Kind KindOf(const std::string& path) {
  const HANDLE h = OpenToLook(path);
  if (h == INVALID_HANDLE_VALUE) return Kind::kMissing;
  BY_HANDLE_FILE_INFORMATION info;
  Kind kind = Kind::kOther;
  if (GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info)) {
    kind = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? Kind::kFolder : Kind::kRegular;
  }
  CloseHandle(h);
  return kind;
}

bool Exists(const std::string& path) {
  if (GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  return KindOf(path) != Kind::kMissing;  // a device
}

Outcome MakeFolder(const std::string& path, std::string* reason) {
  if (CreateDirectoryW(SystemPath(path).c_str(), nullptr)) return Outcome::kDone;
  const DWORD why = GetLastError();
  if (why == ERROR_ALREADY_EXISTS || why == ERROR_FILE_EXISTS) return Outcome::kExists;
  *reason = Reason(why);
  return Outcome::kFailed;
}

bool SameFile(const std::string& a, const std::string& b) {
  const HANDLE ha = OpenToLook(a);
  if (ha == INVALID_HANDLE_VALUE) return false;
  const HANDLE hb = OpenToLook(b);
  BY_HANDLE_FILE_INFORMATION ia, ib;
  const bool same = hb != INVALID_HANDLE_VALUE && GetFileInformationByHandle(ha, &ia) &&
                    GetFileInformationByHandle(hb, &ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
                    ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
  CloseHandle(ha);
  if (hb != INVALID_HANDLE_VALUE) CloseHandle(hb);
  return same;
}

std::string FolderOf(const std::string& path) { return host::WindowsFolderOf(path); }

bool IsAbsolute(const std::string& path) { return host::IsWindowsAbsolute(path); }

std::string ToolFolder() {
  std::wstring self(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, &self[0], static_cast<DWORD>(self.size()));
    if (n == 0) return "";
    if (n < self.size()) {
      self.resize(n);
      break;
    }
    self.resize(self.size() * 2);
  }
  return FolderOf(Utf8(self.data(), self.size()));
}

std::string InstalledLauncherOf(const std::string& toolFolder) {
  // setup-package.exe and launcher.exe side by side, as the zip holds them
  return toolFolder.empty() ? "launcher.exe" : toolFolder + "\\launcher.exe";
}

std::string QuotedForCommand(const std::string& path) { return host::QuotedForCmd(path); }

int RunCommand(const std::string& command, bool quiet, size_t keep, std::string* errors) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return -1;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE input = Nul(GENERIC_READ), output = INVALID_HANDLE_VALUE;
  const HANDLE ownErrors = GetStdHandle(STD_ERROR_HANDLE);
  if (quiet || ownErrors == nullptr || ownErrors == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), ownErrors, GetCurrentProcess(), &output, 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    output = Nul(GENERIC_WRITE);
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = writeEnd;
  // cmd.exe from the system folder, never one found in the current folder;
  // /d: no AutoRun commands; /s /c: the rest, its outer quotes removed, as
  // the command.
  wchar_t system[MAX_PATH];
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring shell = (n > 0 && n < MAX_PATH ? std::wstring(system, n) : L"C:\\Windows\\System32") + L"\\cmd.exe";
  std::wstring line = L"cmd.exe /d /s /c \"" + Wide(command) + L"\"";
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessW(shell.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                      &process) != 0;
  CloseHandle(writeEnd);
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
  char buffer[4096];
  DWORD got = 0;
  while (started && ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    errors->append(buffer, got);
    if (errors->size() > 2 * keep) errors->erase(0, errors->size() - keep);
  }
  if (errors->size() > keep) errors->erase(0, errors->size() - keep);
  CloseHandle(readEnd);
  if (!started) return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}

void* MapBlock(size_t size) { return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE); }

void* ResizeBlock(void* block, size_t oldSize, size_t size) {
  if (size <= oldSize) return block;  // its tail stays unused
  void* fresh = MapBlock(size);
  if (fresh == nullptr) return nullptr;
  std::memcpy(fresh, block, oldSize);
  VirtualFree(block, 0, MEM_RELEASE);
  return fresh;
}

void FreeBlock(void* block, size_t) { VirtualFree(block, 0, MEM_RELEASE); }

uintptr_t ProgramBase() { return reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr)); }

void PrepareStandardStreams() {
  // Bytes as written: "\n" stays "\n", in a file as on a console.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // A console shows the UTF-8 the tool writes; its code page is given back
  // at the end.
  const UINT page = GetConsoleOutputCP();
  if (page != 0 && page != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
    consoleCodePage = page;
    std::atexit(RestoreConsole);
  }
}

bool ErrorIsTerminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void WriteRaw(int stream, const char* text, size_t count) {
  DWORD n = 0;
  WriteFile(GetStdHandle(stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE), text, static_cast<DWORD>(count), &n,
            nullptr);
}

void EndNow(int status) { TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status)); for (;;) {} }

}  // namespace sys
