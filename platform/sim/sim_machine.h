// A simulated Windows machine: the platform functions operate on the machine
// installed with Machine::Install, keep its state in memory and log every
// call in order. The tests run the launcher on it, and so does the package
// tool (verify and its checks run the launcher's own code on it; it ships
// with the tool). This header shows what a caller sets and what it reads;
// the machine's inner tables live in sim_state.h, and its platform functions
// in one file per area (files, processes, modules, memory, text; the file
// store and the fault injection have files of their own too). "End the
// process" throws ProcessEnded, which Run() catches, so the caller sees the
// exit code; calls made after the end (by destructors during unwinding) are
// ignored and not logged.
#ifndef PLATFORM_SIM_SIM_MACHINE_H_
#define PLATFORM_SIM_SIM_MACHINE_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/bytes.h"
#include "host/code_pages.h"
#include "platform/platform.h"

namespace sim {

struct State;  // what the machine keeps inside (platform/sim/sim_state.h)

struct ProcessEnded {
  uint32_t exitCode;
};

struct MessageBoxRecord {
  std::string text;
  std::string caption;
  uint32_t type;
};

// One DLL load: asked for by the launcher (LoadLibraryExA), or made by the
// system on the launcher's behalf (`by` names the call, such as MessageBoxA),
// with the folders searched, in order.
struct DllLoad {
  std::string dll;
  std::string by;
  std::vector<std::string> folders;
  std::string loadedFrom;  // the folder it came from; empty when not loaded
};

struct ProcessStart {
  bool viaShell;
  std::string commandLine;       // direct start
  std::string currentDirectory;  // direct start; empty when none was given
  std::string verb;              // shell start
  std::string file;              // shell start
  std::string parameters;        // shell start
  uint32_t startupInfoSize;
  uint32_t mask;
  int32_t show;
  platform::Handle process;
};

// Case-insensitive path comparison, as on Windows.
struct PathLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

class Machine {
 public:
  Machine();
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // Makes this the machine the platform functions act on (until destroyed).
  void Install();
  static Machine& Current();

  // Runs `entry` as the process's main code and returns its exit code; a
  // return without ExitProcess counts as exit code 0.
  uint32_t Run(const std::function<void()>& entry);

  // --- What the machine holds -------------------------------------------
  void AddFile(const std::string& path, std::vector<uint8_t> bytes);
  // The same bytes in several machines without a copy; a write gives the
  // file bytes of its own first.
  void AddSharedFile(const std::string& path, std::shared_ptr<std::vector<uint8_t>> bytes);
  // The same for bytes held elsewhere (a mapped file), kept alive by `owner`.
  void AddHeldFile(const std::string& path, host::ByteView bytes, std::shared_ptr<const void> owner);
  void AddFolder(const std::string& path);
  bool Exists(const std::string& path) const;
  bool IsFolder(const std::string& path) const;
  // A file's bytes; a file of which only the start is kept (see DeclareBlock)
  // has FileStart and FileSize instead.
  host::ByteView FileBytes(const std::string& path) const;
  host::ByteView FileStart(const std::string& path) const;
  uint64_t FileSize(const std::string& path) const;
  // For tools that know what a memory block of the running process holds
  // without writing it there (a program decoded once, run on many machines):
  // `block` holds `size` bytes beginning with `head` (at least what starting
  // it as a program reads, pe::HeadNeeded), kept alive by `owner`. A file
  // written whole from the block's start holds those bytes, with only `head`
  // kept; nothing else reads them. Ends when the block is resized or released.
  void DeclareBlock(const void* block, host::ByteView head, uint64_t size, std::shared_ptr<const void> owner);
  std::vector<std::string> FilesIn(const std::string& folder) const;  // full paths
  // Whether Windows would start the file as a program on this machine (the
  // same judgement as for the processes the launcher starts). A package
  // whose launcher image is cut or damaged is never run at all.
  bool CanStart(const std::string& path) const;

  std::string modulePath = "C:\\Setup\\setup.exe";
  std::string commandLine = "\"C:\\Setup\\setup.exe\"";
  std::string tempPath = "C:\\Users\\user\\AppData\\Local\\Temp\\";
  bool tempPathFails = false;
  platform::OsVersionInfo version{};  // filled by the constructor: Windows 10
  bool versionQueryFails = false;
  bool extendedVersionQueryFails = false;
  bool hasIsWow64Process = true;
  bool wow64 = true;
  // 32-bit Windows that starts DOS programs (95 to 7; 8 and later have the
  // feature off by default, 64-bit Windows has none): an MZ file without a PE
  // header is started there.
  bool dosSubsystem = false;
  bool isWow64ProcessFails = false;
  bool administrator = false;
  bool hasCheckTokenMembership = true;
  bool checkTokenMembershipFails = false;
  bool allocateSidFails = false;
  std::map<char, std::string> mappedDrives;  // 'Z' -> "\\\\server\\share"
  // DLL loading: which functions the system has, where its system folder is,
  // and whether mpr.dll is there. A DLL found by a search that reaches the
  // launcher's folder first is taken from there when the folder holds a file
  // of that name (a planted DLL).
  bool hasSetDefaultDllDirectories = true;
  bool hasSetDllDirectoryA = true;
  std::string systemDirectory = "C:\\Windows\\system32";
  bool systemDirectoryFails = false;
  bool hasMpr = true;
  bool mprHasWNetGetUniversalName = true;
  uint32_t codePage = host::kDefaultCodePage;  // one of host::CodePages()
  // Memory as a 32-bit process has it: 2 GiB of address space, or 4 GiB for
  // a large-address-aware image on 64-bit Windows; a block must fit whole
  // into one of the free ranges (below 2 GiB less what the image, stacks,
  // heaps and system DLLs take; above 2 GiB less the top 64 KiB). memoryLimit
  // caps the total besides (tests use it for small machines).
  bool largeAddressAware = true;
  std::size_t memoryLimit = std::size_t(4) << 30;
  // What a started process does before it ends (for example open files).
  std::function<void(const ProcessStart&)> onProcessStart;

  // --- What happened ----------------------------------------------------
  std::vector<std::string> log;  // one line per call, in order
  std::vector<MessageBoxRecord> messageBoxes;
  std::vector<ProcessStart> starts;
  std::vector<DllLoad> dllLoads;
  uint32_t defaultDllDirectories = 0;  // as set by SetDefaultDllDirectories
  bool dllDirectorySet = false;        // SetDllDirectoryA was called
  bool ended = false;
  uint32_t exitCode = 0;
  std::size_t memoryInUse = 0;
  std::size_t memoryPeak = 0;
  std::size_t largestRequest = 0;  // the largest block asked for at once
  std::vector<std::size_t> memoryRequests;  // every block size asked for, in order
  int memoryRefusals = 0;          // requests for memory that were refused
  // The largest block as the run settled it: its size when released or made
  // smaller, or at the end of the run. A guess granted and then trimmed to
  // what was produced counts at the trimmed size: this is what the run
  // needed, where largestRequest also counts what it only tried.
  std::size_t largestSettled = 0;
  // File and search handles still open (process and thread handles are not
  // counted: the launcher hands those to the system's end of the process).
  int openHandles() const;

  // --- Fault injection ----------------------------------------------------
  // Makes the nth call (1-based) of the named operation fail: "CreateFileA",
  // "ReadFile", "WriteFile", "SetFilePointer", "GetFileSize", "DeleteFileA",
  // "CreateProcessA", "ShellExecuteExA", "WaitForSingleObject",
  // "MemoryAllocate", "MemoryResize", "FindFirstFileA", "CloseHandle".
  void FailCall(const std::string& operation, int nth = 1);
  // A ReadFile or WriteFile that moves at most `bytes` bytes (nth call).
  void ShortenCall(const std::string& operation, uint32_t bytes, int nth = 1);
  // The count of every fault-eligible call so far, for sweeping fault points.
  int faultPointsSeen = 0;
  int failFaultPoint = 0;  // fail the nth fault-eligible call of any kind

  // Index of the first log line that starts with `prefix`, or -1.
  int Find(const std::string& prefix) const;
  // How often the named fault-eligible operation was called.
  int CallCount(const std::string& operation) const;
  // How many files (not folders) the machine holds.
  int FileCount() const;
  // Whether the `index`th process started (0 first) still runs.
  bool ProcessRunning(size_t index) const;

 private:
  friend State& StateOf(Machine& machine);
  friend const State& StateOf(const Machine& machine);
  std::unique_ptr<State> state_;
};

}  // namespace sim

#endif  // PLATFORM_SIM_SIM_MACHINE_H_
