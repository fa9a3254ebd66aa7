// Files on Windows: only what every supported Windows (7 and later, 64-bit)
// has, wide paths at every call.
#include "host/system/windows/win32_api.h"

#include <algorithm>

#include "host/system/files.h"
#include "host/system/process.h"
#include "host/windows_paths.h"

namespace sys {

using namespace win32;

namespace {

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

constexpr size_t kLargestCall = size_t(1) << 30;

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

FileKind KindOf(const std::string& path) {
  const HANDLE h = OpenToLook(path);
  if (h == INVALID_HANDLE_VALUE) return FileKind::kMissing;
  BY_HANDLE_FILE_INFORMATION info;
  FileKind kind = FileKind::kOther;
  if (GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info)) {
    kind = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? FileKind::kFolder : FileKind::kRegular;
  }
  CloseHandle(h);
  return kind;
}

bool Exists(const std::string& path) {
  if (GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  return KindOf(path) != FileKind::kMissing;  // a device
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

std::string FileNameOf(const std::string& path) { return host::WindowsFileNameOf(path); }

bool IsAbsolute(const std::string& path) { return host::IsWindowsAbsolute(path); }

}  // namespace sys
