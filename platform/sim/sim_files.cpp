// The simulated machine's file system: paths, files and folders, file and
// search handles, the temporary folder and the module path.
#include "platform/sim/sim_state.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace sim {

host::ByteView KeptBytes(const Node& node) { return node.own ? host::ByteView(*node.own) : node.kept; }

uint64_t SizeOf(const Node& node) { return node.own ? node.own->size() : node.size; }

std::vector<uint8_t>& Writable(Node& node, const std::string& path) {
  if (!node.own) {
    if (node.kept.size() != node.size) throw std::logic_error("only the start of " + path + " is kept: it cannot be written");
    node.own = std::make_shared<std::vector<uint8_t>>(node.kept.ToBytes());
    node.owner.reset();
    node.kept = host::ByteView();
  }
  return *node.own;
}

}  // namespace sim

namespace platform {

using namespace sim;

Handle CreateFileA(const char* name, uint32_t access, uint32_t share, uint32_t disposition,
                   uint32_t flags) {
  Machine& m = TheMachine();
  Log(m, std::string("CreateFileA ") + name + " access=" + sim::Hex(access) +
        " share=" + std::to_string(share) + " disposition=" + std::to_string(disposition) +
        " flags=" + sim::Hex(flags));
  if (Fault(m, "CreateFileA")) return kInvalidHandleValue;
  if (std::strlen(name) >= kMaxPath) return kInvalidHandleValue;  // ERROR_PATH_NOT_FOUND
  auto it = StateOf(m).nodes.find(sim::Key(name));
  Open open;
  open.path = name;
  if (disposition == kOpenExisting) {
    if (it == StateOf(m).nodes.end() || it->second.folder) return kInvalidHandleValue;
  } else if (disposition == kCreateAlways) {
    const std::string parent = sim::ParentOf(name);
    if (parent.empty() || !m.IsFolder(parent)) return kInvalidHandleValue;
    if (it != StateOf(m).nodes.end() && it->second.folder) return kInvalidHandleValue;
    m.AddFile(name, {});
  } else {
    return kInvalidHandleValue;
  }
  open.read = (access & kGenericRead) != 0;
  open.write = (access & kGenericWrite) != 0;
  return NewHandle(m, open);
}

uint32_t SetFilePointer(Handle file, int32_t distance, uint32_t method) {
  Machine& m = TheMachine();
  Log(m, "SetFilePointer " + std::to_string(distance) + " method=" + std::to_string(method));
  if (!Live(m)) return kInvalidSetFilePointer;
  Open* open = FindOpen(m, file);
  if (open == nullptr || method != kFileBegin || distance < 0) return kInvalidSetFilePointer;
  if (Fault(m, "SetFilePointer")) return kInvalidSetFilePointer;
  open->position = static_cast<uint32_t>(distance);
  return static_cast<uint32_t>(distance);
}

Bool ReadFile(Handle file, void* buffer, uint32_t count, uint32_t* read) {
  Machine& m = TheMachine();
  Log(m, "ReadFile " + std::to_string(count));
  *read = 0;
  if (!Live(m)) return 0;
  Open* open = FindOpen(m, file);
  if (open == nullptr || !open->read) return 0;
  if (Fault(m, "ReadFile")) return 0;
  const Node& node = StateOf(m).nodes.at(sim::Key(open->path));
  const host::ByteView bytes = KeptBytes(node);
  const uint64_t size = SizeOf(node);
  uint64_t available = open->position < size ? size - open->position : 0;
  uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count, available));
  n = Shortening(m, "ReadFile", n);
  if (n > 0 && open->position + n > bytes.size()) throw std::logic_error("read past the kept start of " + open->path);
  if (n > 0) std::memcpy(buffer, bytes.data() + open->position, n);
  open->position += n;
  *read = n;
  return 1;
}

Bool WriteFile(Handle file, const void* buffer, uint32_t count, uint32_t* written) {
  Machine& m = TheMachine();
  Log(m, "WriteFile " + std::to_string(count));
  *written = 0;
  if (!Live(m)) return 0;
  Open* open = FindOpen(m, file);
  if (open == nullptr || !open->write) return 0;
  if (Fault(m, "WriteFile")) return 0;
  uint32_t n = Shortening(m, "WriteFile", count);
  Node& node = StateOf(m).nodes[sim::Key(open->path)];
  // A whole new file from a block whose bytes the caller declared: the file
  // holds what the block was declared to hold.
  auto declared = StateOf(m).declared.find(buffer);
  if (declared != StateOf(m).declared.end()) {
    if (open->position != 0 || SizeOf(node) != 0 || n > declared->second.size) {
      throw std::logic_error("a declared block is written only from its start into a new file");
    }
    node.own.reset();
    node.owner = declared->second.owner;
    node.kept = declared->second.head.First(n);
    node.size = n;
    open->position = n;
    *written = n;
    return n == count ? 1 : 0;
  }
  auto& bytes = Writable(node, open->path);
  if (bytes.size() < open->position + n) bytes.resize(open->position + n);
  if (n > 0) std::memcpy(bytes.data() + open->position, buffer, n);
  open->position += n;
  *written = n;
  return n == count ? 1 : 0;
}

uint32_t GetFileSize(Handle file, uint32_t* high) {
  Machine& m = TheMachine();
  Log(m, "GetFileSize");
  Open* open = FindOpen(m, file);
  if (open == nullptr || Fault(m, "GetFileSize")) {
    if (high != nullptr) *high = 0;
    return 0xFFFFFFFFu;
  }
  const uint64_t size = m.FileSize(open->path);
  if (high != nullptr) *high = static_cast<uint32_t>(size >> 32);
  return static_cast<uint32_t>(size);
}

Bool DeleteFileA(const char* name) {
  Machine& m = TheMachine();
  Log(m, std::string("DeleteFileA ") + name);
  if (!Live(m)) return 0;
  if (Fault(m, "DeleteFileA")) return 0;
  auto it = StateOf(m).nodes.find(sim::Key(name));
  if (it == StateOf(m).nodes.end() || it->second.folder) return 0;
  if (ImageInUse(m, name)) return 0;  // ERROR_ACCESS_DENIED: a running program's image
  for (const auto& h : StateOf(m).handles) {
    if (!h.second.search && sim::SamePath(h.second.path, name) &&
        (h.second.read || h.second.write)) {
      return 0;  // in use
    }
  }
  StateOf(m).nodes.erase(it);
  return 1;
}

Handle FindFirstFileA(const char* name) {
  Machine& m = TheMachine();
  Log(m, std::string("FindFirstFileA ") + name);
  if (!Live(m) || Fault(m, "FindFirstFileA")) return kInvalidHandleValue;
  if (std::strlen(name) >= kMaxPath || !m.Exists(name)) return kInvalidHandleValue;
  Open open;
  open.path = name;
  open.search = true;
  return NewHandle(m, open);
}

Bool FindClose(Handle search) {
  Machine& m = TheMachine();
  Log(m, "FindClose");
  auto it = StateOf(m).handles.find(search);
  if (it == StateOf(m).handles.end() || !it->second.search) return 0;
  StateOf(m).handles.erase(it);
  return 1;
}

uint32_t GetTempPathA(uint32_t size, char* buffer) {
  Machine& m = TheMachine();
  Log(m, "GetTempPathA " + std::to_string(size));
  if (m.tempPathFails) return 0;
  const uint32_t n = static_cast<uint32_t>(m.tempPath.size());
  if (n + 1 > size) return n + 1;
  std::memcpy(buffer, m.tempPath.c_str(), n + 1);
  return n;
}

// A path that does not fit: before Vista the buffer is filled without a
// terminating zero; from Vista on it ends in one; either way the size comes
// back.
uint32_t GetModuleFileNameA(char* buffer, uint32_t size) {
  Machine& m = TheMachine();
  if (size == 0) return 0;
  const size_t length = m.modulePath.size();
  if (length < size) {
    std::memcpy(buffer, m.modulePath.c_str(), length + 1);
    return static_cast<uint32_t>(length);
  }
  if (m.version.dwMajorVersion < 6) {
    std::memcpy(buffer, m.modulePath.data(), size);
  } else {
    std::memcpy(buffer, m.modulePath.data(), size - 1);
    buffer[size - 1] = 0;
  }
  return size;
}

}  // namespace platform
