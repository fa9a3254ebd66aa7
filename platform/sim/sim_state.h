// The simulated machine's inner state and what its files share. Only the
// files of platform/sim include this; tests see sim_machine.h.
#ifndef PLATFORM_SIM_SIM_STATE_H_
#define PLATFORM_SIM_SIM_STATE_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/bytes.h"
#include "platform/platform.h"
#include "platform/sim/sim_machine.h"

namespace sim {

// A file's bytes are its own (written in place), or held elsewhere and only
// read: then `kept` are the ones at hand of a file `size` bytes long (a
// program copy whose bytes the caller did not keep has only its headers).
struct Node {
  bool folder = false;
  std::shared_ptr<std::vector<uint8_t>> own;
  std::shared_ptr<const void> owner;
  host::ByteView kept;
  uint64_t size = 0;
};

host::ByteView KeptBytes(const Node& node);
uint64_t SizeOf(const Node& node);
// The node's bytes to write to: bytes held elsewhere become its own first.
std::vector<uint8_t>& Writable(Node& node, const std::string& path);

// A memory block whose bytes the caller declared instead of writing them
// (Machine::DeclareBlock).
struct Declared {
  host::ByteView head;
  uint64_t size;
  std::shared_ptr<const void> owner;
};

struct Open {
  std::string path;  // a file's, a search's, or a process's image
  bool read = false;
  bool write = false;
  bool search = false;
  bool process = false;
  bool thread = false;    // a process's main thread
  int processIndex = -1;  // process and thread handles: into State::processes
  uint64_t position = 0;
};

// A started process runs until its process handle is waited on (a wait on
// its thread handle ends only the thread); while it runs its image file
// cannot be deleted. Closing its handles does not end it.
struct Process {
  std::string image;
  bool running = true;
};

struct Block {
  std::size_t size;
  int range;    // 0: below 2 GiB, 1: above
  bool mapped;  // its own pages (a large block), not the host's heap
};

struct LoadedModule {
  void* module;
  std::string folder;  // where it was loaded from
};

struct State {
  std::map<std::string, Node, PathLess> nodes;
  std::map<platform::Handle, Open> handles;
  platform::Handle nextHandle = 0x100;
  std::vector<Process> processes;
  std::map<std::string, int> calls;
  std::map<std::string, int> failures;  // operation -> nth
  std::map<std::string, std::pair<int, uint32_t>> shortenings;
  std::map<void*, Block> blocks;
  std::map<const void*, Declared> declared;
  std::size_t rangeInUse[2] = {0, 0};
  std::map<std::string, LoadedModule, PathLess> loadedModules;  // by file name
  std::string sidStorage;
};

State& StateOf(Machine& machine);
const State& StateOf(const Machine& machine);
inline Machine& TheMachine() { return Machine::Current(); }
// Gives the host's memory of every block still held back (sim_memory.cpp).
void FreeBlocks(State& state);

// The log and fault injection.
bool Fault(Machine& m, const std::string& operation);  // counts the call and decides
uint32_t Shortening(Machine& m, const std::string& operation, uint32_t count);
void Log(Machine& m, const std::string& line);
inline bool Live(const Machine& m) { return !m.ended; }

// Handles of every kind.
platform::Handle NewHandle(Machine& m, Open open);
Open* FindOpen(Machine& m, platform::Handle h);

// Paths: compared without letter case and without a trailing backslash
// (except a drive root such as "C:\").
char Upper(char c);
std::string Key(const std::string& path);
bool SamePath(const std::string& a, const std::string& b);
bool SameText(const std::string& a, const std::string& b);
std::string ParentOf(const std::string& path);
std::string FolderOf(const std::string& path);
std::string Hex(uint32_t v);

constexpr size_t kMaxPath = 260;           // with the terminating zero
constexpr size_t kMaxCommandLine = 32767;  // CreateProcessA, with the zero

// Between the areas: a running process's image cannot be deleted; what the
// system loads for itself inside MessageBoxA and ShellExecuteExA.
bool ImageInUse(const Machine& m, const std::string& path);
void SystemLoads(Machine& m, const std::string& by);
// The administrator check that GetProcAddress hands out.
platform::Bool PLATFORM_API SimCheckTokenMembership(platform::Handle token, void* sid, platform::Bool* member);

}  // namespace sim

#endif  // PLATFORM_SIM_SIM_STATE_H_
