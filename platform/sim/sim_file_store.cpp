// The simulated machine's file store: folders and files in memory, by
// Windows path (letter case ignored), a file's bytes its own, shared or held
// elsewhere, and blocks declared to hold a program's bytes.
#include "platform/sim/sim_machine.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "host/pe_image.h"
#include "platform/sim/sim_state.h"

namespace sim {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

std::string Key(const std::string& path) {
  std::string k = path;
  while (k.size() > 3 && k.back() == '\\') k.pop_back();
  return k;
}

bool SamePath(const std::string& a, const std::string& b) {
  return !PathLess()(Key(a), Key(b)) && !PathLess()(Key(b), Key(a));
}

std::string ParentOf(const std::string& path) {
  std::string k = Key(path);
  size_t slash = k.rfind('\\');
  if (slash == std::string::npos) return std::string();
  if (slash == 2 && k[1] == ':') return k.substr(0, 3);
  return k.substr(0, slash);
}

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool SameText(const std::string& a, const std::string& b) {
  return !PathLess()(a, b) && !PathLess()(b, a);
}

bool PathLess::operator()(const std::string& a, const std::string& b) const {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const char x = Upper(a[i]), y = Upper(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

void Machine::AddFolder(const std::string& path) {
  std::string k = Key(path);
  std::string parent = ParentOf(k);
  if (!parent.empty() && parent != k && !Exists(parent)) AddFolder(parent);
  Node node;
  node.folder = true;
  state_->nodes[k] = node;
}

namespace {

// A file at `path`, its folders made first.
void PlaceFile(Machine& m, const std::string& path, Node node) {
  const std::string parent = ParentOf(path);
  if (!parent.empty() && !m.Exists(parent)) m.AddFolder(parent);
  StateOf(m).nodes[Key(path)] = std::move(node);
}

}  // namespace

void Machine::AddFile(const std::string& path, std::vector<uint8_t> bytes) {
  Node node;
  node.own = std::make_shared<std::vector<uint8_t>>(std::move(bytes));
  PlaceFile(*this, path, std::move(node));
}

void Machine::AddSharedFile(const std::string& path, std::shared_ptr<std::vector<uint8_t>> bytes) {
  const host::ByteView view(*bytes);
  AddHeldFile(path, view, std::move(bytes));
}

void Machine::AddHeldFile(const std::string& path, host::ByteView bytes, std::shared_ptr<const void> owner) {
  Node node;
  node.owner = std::move(owner);
  node.kept = bytes;
  node.size = bytes.size();
  PlaceFile(*this, path, std::move(node));
}

void Machine::DeclareBlock(const void* block, host::ByteView head, uint64_t size, std::shared_ptr<const void> owner) {
  if (state_->blocks.count(const_cast<void*>(block)) == 0) throw std::logic_error("DeclareBlock: no such block");
  state_->declared[block] = Declared{head.First(size), size, std::move(owner)};
}

bool Machine::CanStart(const std::string& path) const {
  if (!Exists(path) || IsFolder(path)) return false;
  const Node& node = state_->nodes.at(Key(path));
  std::string why;
  if (pe::CheckProgram(KeptBytes(node), SizeOf(node), pe::kMachineI386, &why)) return true;
  if (wow64) return pe::CheckProgram(KeptBytes(node), SizeOf(node), pe::kMachineAmd64, &why);
  return dosSubsystem && pe::IsDosProgram(KeptBytes(node), SizeOf(node));
}

bool Machine::Exists(const std::string& path) const { return state_->nodes.count(Key(path)) != 0; }

bool Machine::IsFolder(const std::string& path) const {
  auto it = state_->nodes.find(Key(path));
  return it != state_->nodes.end() && it->second.folder;
}

host::ByteView Machine::FileStart(const std::string& path) const {
  auto it = state_->nodes.find(Key(path));
  if (it == state_->nodes.end() || it->second.folder) throw std::logic_error("no file " + path);
  return KeptBytes(it->second);
}

uint64_t Machine::FileSize(const std::string& path) const {
  FileStart(path);
  return SizeOf(state_->nodes.at(Key(path)));
}

host::ByteView Machine::FileBytes(const std::string& path) const {
  const host::ByteView start = FileStart(path);
  if (start.size() != FileSize(path)) throw std::logic_error("only the start of " + path + " is kept");
  return start;
}

std::vector<std::string> Machine::FilesIn(const std::string& folder) const {
  std::vector<std::string> out;
  const std::string f = Key(folder);
  for (const auto& n : state_->nodes) {
    if (!n.second.folder && SamePath(ParentOf(n.first), f)) {
      out.push_back(n.first);
    }
  }
  return out;
}

int Machine::FileCount() const {
  int n = 0;
  for (const auto& node : state_->nodes) n += node.second.folder ? 0 : 1;
  return n;
}

}  // namespace sim
