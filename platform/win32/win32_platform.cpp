// The platform functions on real Windows: each is the Win32 call of the same
// name with the launcher's fixed parameters filled in.
#include <cstdlib>

#include "platform/platform.h"
#include "platform/win32/windows_api.h"

namespace platform {

namespace {
HANDLE H(Handle h) { return reinterpret_cast<HANDLE>(h); }
Handle P(HANDLE h) { return reinterpret_cast<Handle>(h); }
}  // namespace

static_assert(sizeof(OsVersionInfo) == sizeof(OSVERSIONINFOEXA), "version info layout");
static_assert(sizeof(ShellExecuteInfo) == sizeof(SHELLEXECUTEINFOA), "shell info layout");
static_assert(sizeof(StartupInfo) == sizeof(STARTUPINFOA), "startup info layout");
static_assert(sizeof(ProcessInformation) == sizeof(PROCESS_INFORMATION), "process info layout");

Handle CreateFileA(const char* name, uint32_t access, uint32_t share, uint32_t disposition,
                   uint32_t flags) {
  return P(::CreateFileA(name, access, share, nullptr, disposition, flags, nullptr));
}

uint32_t SetFilePointer(Handle file, int32_t distance, uint32_t method) {
  return ::SetFilePointer(H(file), distance, nullptr, method);
}

Bool ReadFile(Handle file, void* buffer, uint32_t count, uint32_t* read) {
  DWORD n = 0;
  BOOL ok = ::ReadFile(H(file), buffer, count, &n, nullptr);
  *read = n;
  return ok;
}

Bool WriteFile(Handle file, const void* buffer, uint32_t count, uint32_t* written) {
  DWORD n = 0;
  BOOL ok = ::WriteFile(H(file), buffer, count, &n, nullptr);
  *written = n;
  return ok;
}

uint32_t GetFileSize(Handle file, uint32_t* high) {
  DWORD h = 0;
  DWORD low = ::GetFileSize(H(file), &h);
  *high = h;
  return low;
}

Bool CloseHandle(Handle handle) { return ::CloseHandle(H(handle)); }
Bool DeleteFileA(const char* name) { return ::DeleteFileA(name); }

Handle FindFirstFileA(const char* name) {
  WIN32_FIND_DATAA data;
  return P(::FindFirstFileA(name, &data));
}

Bool FindClose(Handle search) { return ::FindClose(H(search)); }
uint32_t GetTempPathA(uint32_t size, char* buffer) { return ::GetTempPathA(size, buffer); }

uint32_t GetModuleFileNameA(char* buffer, uint32_t size) {
  return ::GetModuleFileNameA(nullptr, buffer, size);
}

const char* GetCommandLineA() { return ::GetCommandLineA(); }

Bool GetVersionExA(OsVersionInfo* info) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return ::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(info));
#pragma GCC diagnostic pop
}

void* GetModuleHandleA(const char* name) { return ::GetModuleHandleA(name); }

void* LoadLibraryExA(const char* name, uint32_t flags) {
  return ::LoadLibraryExA(name, nullptr, flags);
}

uint32_t GetSystemDirectoryA(char* buffer, uint32_t size) { return ::GetSystemDirectoryA(buffer, size); }

void* GetProcAddress(void* module, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

Handle GetCurrentProcess() { return P(::GetCurrentProcess()); }

Bool CreateProcessA(char* commandLine, const char* currentDirectory, const StartupInfo* startup,
                    ProcessInformation* information) {
  return ::CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                          currentDirectory,
                          const_cast<STARTUPINFOA*>(reinterpret_cast<const STARTUPINFOA*>(startup)),
                          reinterpret_cast<PROCESS_INFORMATION*>(information));
}

uint32_t WaitForSingleObject(Handle handle, uint32_t milliseconds) {
  return ::WaitForSingleObject(H(handle), milliseconds);
}

void ExitProcess(uint32_t exitCode) { ::ExitProcess(exitCode); }

uint32_t GetACP() { return ::GetACP(); }

int32_t MultiByteToWideChar(uint32_t codePage, uint32_t flags, const char* text, int32_t length,
                            char16_t* wide, int32_t wideLength) {
  return ::MultiByteToWideChar(codePage, flags, text, length, reinterpret_cast<wchar_t*>(wide),
                               wideLength);
}

int32_t WideCharToMultiByte(uint32_t codePage, uint32_t flags, const char16_t* wide,
                            int32_t wideLength, char* text, int32_t length) {
  return ::WideCharToMultiByte(codePage, flags, reinterpret_cast<const wchar_t*>(wide), wideLength,
                               text, length, nullptr, nullptr);
}

const char* CharNextA(const char* position) { return ::CharNextA(position); }

void* MemoryAllocate(std::size_t size) { return std::malloc(size); }
void* MemoryResize(void* block, std::size_t size) { return std::realloc(block, size); }
void MemoryRelease(void* block) { std::free(block); }

int32_t MessageBoxA(const char* text, const char* caption, uint32_t type) {
  return ::MessageBoxA(nullptr, text, caption, type);
}

Bool AllocateAndInitializeSid(const uint8_t authority[6], uint8_t count, const uint32_t s[8],
                              void** sid) {
  SID_IDENTIFIER_AUTHORITY a;
  for (int i = 0; i < 6; ++i) a.Value[i] = authority[i];
  return ::AllocateAndInitializeSid(&a, count, s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], sid);
}

void FreeSid(void* sid) { ::FreeSid(sid); }

Bool ShellExecuteExA(ShellExecuteInfo* info) {
  return ::ShellExecuteExA(reinterpret_cast<SHELLEXECUTEINFOA*>(info));
}

}  // namespace platform
