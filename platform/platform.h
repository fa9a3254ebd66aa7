// The one layer between the launcher and the operating system.
//
// Each function mirrors the Win32 call of the same name, narrowed to the
// parameters the launcher actually varies; the fixed ones (null security
// attributes, no template file, no owner window) are supplied by the
// implementation. Two implementations exist: platform/win32 for the shipped
// executable and platform/sim, a simulated Windows machine for host tests.
// Nothing here includes <windows.h>.
#ifndef PLATFORM_PLATFORM_H_
#define PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>

#if defined(__i386__) && defined(_WIN32)
#define PLATFORM_API __attribute__((stdcall))
#else
#define PLATFORM_API
#endif

namespace platform {

using Handle = std::uintptr_t;
using Bool = int;  // Win32 BOOL: nonzero is true.

constexpr Handle kInvalidHandleValue = ~Handle(0);

// CreateFileA
constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kFileShareRead = 0x00000001u;
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kFileAttributeNormal = 0x80u;
// SetFilePointer
constexpr uint32_t kFileBegin = 0;
constexpr uint32_t kInvalidSetFilePointer = 0xFFFFFFFFu;
// WaitForSingleObject
constexpr uint32_t kInfinite = 0xFFFFFFFFu;
// MessageBoxA
constexpr uint32_t kMbOk = 0x00000000u;
constexpr uint32_t kMbIconError = 0x00000010u;
// The text of the last-resort report's message box: "Runtime error " with the
// number right-aligned in four places, then " at " and the code address in
// eight hex digits. The launcher writes it; the simulated machine reads the
// address back.
struct RuntimeErrorText {
  static constexpr char kTemplate[] = "Runtime error     at 00000000";
  static constexpr int kNumberFrom = 13, kNumberTo = 16;  // the number's places
  static constexpr int kAddressAt = 21;                   // its eight hex digits
  static constexpr int kLength = sizeof kTemplate - 1;
};
// ShellExecuteExA
constexpr uint32_t kSeeMaskNoCloseProcess = 0x00000040u;
constexpr int32_t kSwShow = 5;
// LoadLibraryExA, SetDefaultDllDirectories
constexpr uint32_t kLoadWithAlteredSearchPath = 0x00000008u;
constexpr uint32_t kLoadLibrarySearchSystem32 = 0x00000800u;
// WNetGetUniversalNameA
constexpr uint32_t kUniversalNameInfoLevel = 1;
constexpr uint32_t kNoError = 0;

// OSVERSIONINFOEXA, field for field. The first 148 bytes are OSVERSIONINFOA.
struct OsVersionInfo {
  uint32_t dwOSVersionInfoSize;
  uint32_t dwMajorVersion;
  uint32_t dwMinorVersion;
  uint32_t dwBuildNumber;
  uint32_t dwPlatformId;
  char szCSDVersion[128];
  uint16_t wServicePackMajor;
  uint16_t wServicePackMinor;
  uint16_t wSuiteMask;
  uint8_t wProductType;
  uint8_t wReserved;
};
static_assert(sizeof(OsVersionInfo) == 156, "OSVERSIONINFOEXA layout");
constexpr uint32_t kOsVersionInfoSize = 148;
constexpr uint32_t kOsVersionInfoExSize = 156;
constexpr uint32_t kVerPlatformWin32Nt = 2;

// STARTUPINFOA as the launcher hands it over: cb and zeros.
struct StartupInfo {
  uint32_t cb;
  uint8_t rest[64];
};
static_assert(sizeof(StartupInfo) == 68, "STARTUPINFOA size on 32-bit Windows");

struct ProcessInformation {
  Handle hProcess;
  Handle hThread;
  uint32_t dwProcessId;
  uint32_t dwThreadId;
};

// SHELLEXECUTEINFOA, field for field.
struct ShellExecuteInfo {
  uint32_t cbSize;
  uint32_t fMask;
  Handle hwnd;
  const char* lpVerb;
  const char* lpFile;
  const char* lpParameters;
  const char* lpDirectory;
  int32_t nShow;
  Handle hInstApp;
  void* lpIDList;
  const char* lpClass;
  Handle hkeyClass;
  uint32_t dwHotKey;
  Handle hIconOrMonitor;
  Handle hProcess;
};
#if defined(__i386__) && defined(_WIN32)
static_assert(sizeof(ShellExecuteInfo) == 60, "SHELLEXECUTEINFOA size");
#endif

// UNIVERSAL_NAME_INFOA: the buffer of WNetGetUniversalNameA starts with it.
struct UniversalNameInfo {
  char* lpUniversalName;
};

// Functions the launcher looks up at run time with GetProcAddress.
using IsWow64ProcessFunction = Bool(PLATFORM_API*)(Handle process, Bool* wow64);
using CheckTokenMembershipFunction = Bool(PLATFORM_API*)(Handle token, void* sid, Bool* isMember);
using SetDefaultDllDirectoriesFunction = Bool(PLATFORM_API*)(uint32_t directoryFlags);
using SetDllDirectoryAFunction = Bool(PLATFORM_API*)(const char* path);
// mpr's WNetGetUniversalNameA, from mpr.dll loaded at run time.
using WNetGetUniversalNameAFunction = uint32_t(PLATFORM_API*)(const char* localPath,
                                                               uint32_t infoLevel, void* buffer,
                                                               uint32_t* bufferSize);

// kernel32: files
Handle CreateFileA(const char* name, uint32_t access, uint32_t share, uint32_t disposition,
                   uint32_t flagsAndAttributes);
// Moves without a high part: `distance` is a signed 32-bit offset.
uint32_t SetFilePointer(Handle file, int32_t distance, uint32_t moveMethod);
Bool ReadFile(Handle file, void* buffer, uint32_t count, uint32_t* read);
Bool WriteFile(Handle file, const void* buffer, uint32_t count, uint32_t* written);
uint32_t GetFileSize(Handle file, uint32_t* high);
Bool CloseHandle(Handle handle);
Bool DeleteFileA(const char* name);
// Searches for `name` and hands back the search handle (find data is dropped).
Handle FindFirstFileA(const char* name);
Bool FindClose(Handle search);
uint32_t GetTempPathA(uint32_t size, char* buffer);

// kernel32: process and system
uint32_t GetModuleFileNameA(char* buffer, uint32_t size);  // of the running module
const char* GetCommandLineA();
Bool GetVersionExA(OsVersionInfo* info);
void* GetModuleHandleA(const char* name);
// Null when the module cannot be loaded (hFile is always null).
void* LoadLibraryExA(const char* name, uint32_t flags);
uint32_t GetSystemDirectoryA(char* buffer, uint32_t size);
void* GetProcAddress(void* module, const char* name);
Handle GetCurrentProcess();
Bool CreateProcessA(char* commandLine, const char* currentDirectory, const StartupInfo* startup,
                    ProcessInformation* information);
uint32_t WaitForSingleObject(Handle handle, uint32_t milliseconds);
[[noreturn]] void ExitProcess(uint32_t exitCode);

// kernel32: text
uint32_t GetACP();
int32_t MultiByteToWideChar(uint32_t codePage, uint32_t flags, const char* text, int32_t length,
                            char16_t* wide, int32_t wideLength);
int32_t WideCharToMultiByte(uint32_t codePage, uint32_t flags, const char16_t* wide,
                            int32_t wideLength, char* text, int32_t length);
// Walks one character of the ANSI code page (a double-byte character whole).
const char* CharNextA(const char* position);

// Memory for the launcher's blocks; null when it cannot be had.
void* MemoryAllocate(std::size_t size);
void* MemoryResize(void* block, std::size_t size);
void MemoryRelease(void* block);

// user32
int32_t MessageBoxA(const char* text, const char* caption, uint32_t type);  // no owner window

// advapi32
Bool AllocateAndInitializeSid(const uint8_t authority[6], uint8_t subAuthorityCount,
                              const uint32_t subAuthorities[8], void** sid);
void FreeSid(void* sid);

// shell32
Bool ShellExecuteExA(ShellExecuteInfo* info);

}  // namespace platform

#endif  // PLATFORM_PLATFORM_H_
