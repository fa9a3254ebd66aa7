// Reading and writing a version resource.
#include "tools/pe/version_resource.h"

#include <algorithm>

namespace pe {

namespace {

void Pad4(std::vector<uint8_t>* out) { out->resize((out->size() + 3) & ~size_t(3)); }
std::u16string Wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr uint32_t kUsEnglish = 0x409;

// One node of a version block: wLength, wValueLength, wType, its key, the
// value, then its children, each on a 4-byte boundary.
struct Node {
  std::u16string key;
  uint16_t type = 1;  // 1 text, 0 binary
  std::vector<uint8_t> value;
  uint16_t valueLength = 0;  // in characters for text, in bytes for binary
  std::vector<Node> children;
};

// False when the block is longer than its 16-bit length can say.
bool Write(const Node& node, std::vector<uint8_t>* out) {
  const size_t start = out->size();
  host::AppendLe16(out, 0);
  host::AppendLe16(out, node.valueLength);
  host::AppendLe16(out, node.type);
  for (char16_t c : node.key) host::AppendLe16(out, c);
  host::AppendLe16(out, 0);
  Pad4(out);
  out->insert(out->end(), node.value.begin(), node.value.end());
  for (const Node& child : node.children) {
    Pad4(out);
    if (!Write(child, out)) return false;
  }
  const size_t length = out->size() - start;
  if (length > 0xFFFF) return false;
  (*out)[start] = uint8_t(length);
  (*out)[start + 1] = uint8_t(length >> 8);
  return true;
}

// Reads the node at `at` (4-byte aligned) that must end by `limit`.
bool Read(host::ByteView b, size_t at, size_t limit, Node* node, size_t* end) {
  if (at + 6 > limit) return false;
  const size_t length = host::Le16(b, at);
  if (length < 6 || at + length > limit) return false;
  *end = at + length;
  node->valueLength = host::Le16(b, at + 2);
  node->type = host::Le16(b, at + 4);
  size_t p = at + 6;
  for (; p + 2 <= *end && host::Le16(b, p) != 0; p += 2) node->key += char16_t(host::Le16(b, p));
  p = (p + 2 + 3) & ~size_t(3);
  const size_t valueBytes = node->type == 1 ? 2 * size_t(node->valueLength) : node->valueLength;
  const size_t valueEnd = std::min(*end, p + valueBytes);
  if (p < valueEnd) node->value.assign(b.begin() + p, b.begin() + valueEnd);
  for (p = (std::max(p, valueEnd) + 3) & ~size_t(3); p < *end; p = (p + 3) & ~size_t(3)) {
    Node child;
    if (!Read(b, p, *end, &child, &p)) return false;
    node->children.push_back(std::move(child));
  }
  return true;
}

Node Text(const std::string& key, const std::u16string& value) {
  Node n;
  n.key = Wide(key);
  for (char16_t c : value) host::AppendLe16(&n.value, c);
  host::AppendLe16(&n.value, 0);
  n.valueLength = uint16_t(std::min<size_t>(value.size() + 1, 0xFFFF));
  return n;
}

}  // namespace

bool ParseVersionNumber(const std::string& text, VersionNumber* out, std::string* why) {
  *out = VersionNumber{};
  size_t part = 0, at = 0;
  while (true) {
    const size_t dot = text.find('.', at);
    const std::string number = text.substr(at, dot == std::string::npos ? std::string::npos : dot - at);
    if (part == 4) return *why = "has more than four numbers", false;
    if (number.empty() || number.size() > 5 || number.find_first_not_of("0123456789") != std::string::npos) {
      return *why = "takes one to four whole numbers separated by dots (A.B.C.D)", false;
    }
    const unsigned long value = std::stoul(number);
    if (value > 0xFFFF) return *why = "has a number over 65535", false;
    (*out)[part++] = uint16_t(value);
    if (dot == std::string::npos) return true;
    at = dot + 1;
  }
}

std::string VersionText(const VersionNumber& v) {
  return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
}

const std::u16string* VersionInfo::Find(const std::string& key) const {
  for (const auto& [k, v] : strings) {
    if (k == key) return &v;
  }
  return nullptr;
}

bool ReadVersionInfo(host::ByteView block, VersionInfo* out) {
  *out = VersionInfo();
  Node root;
  size_t end = 0;
  if (!Read(block, 0, block.size(), &root, &end) || root.key != u"VS_VERSION_INFO" || root.value.size() < 52 ||
      host::Le32(root.value, 0) != kFixedSignature) {
    return false;
  }
  auto number = [&](size_t at) {
    return VersionNumber{uint16_t(host::Le32(root.value, at) >> 16), uint16_t(host::Le32(root.value, at)),
                         uint16_t(host::Le32(root.value, at + 4) >> 16), uint16_t(host::Le32(root.value, at + 4))};
  };
  out->fileVersion = number(8);
  out->productVersion = number(16);
  for (const Node& info : root.children) {
    if (info.key != u"StringFileInfo") continue;
    for (const Node& table : info.children) {
      for (const Node& s : table.children) {
        std::u16string value;
        for (size_t k = 0; k + 1 < s.value.size() && host::Le16(s.value, k) != 0; k += 2) value += char16_t(host::Le16(s.value, k));
        out->strings.emplace_back(std::string(s.key.begin(), s.key.end()), value);
      }
    }
  }
  return true;
}

std::vector<uint8_t> VersionInfoBytes(const VersionInfo& info) {
  Node root;
  root.key = u"VS_VERSION_INFO";
  root.type = 0;
  host::AppendLe32(&root.value, kFixedSignature);
  host::AppendLe32(&root.value, 0x00010000);  // structure version 1.0
  for (const VersionNumber* v : {&info.fileVersion, &info.productVersion}) {
    host::AppendLe32(&root.value, uint32_t((*v)[0]) << 16 | (*v)[1]);
    host::AppendLe32(&root.value, uint32_t((*v)[2]) << 16 | (*v)[3]);
  }
  host::AppendLe32(&root.value, 0x3F);     // file flags mask
  host::AppendLe32(&root.value, 0);        // file flags
  host::AppendLe32(&root.value, 0x40004);  // VOS_NT_WINDOWS32
  host::AppendLe32(&root.value, 1);        // VFT_APP
  host::AppendLe32(&root.value, 0);        // subtype
  host::AppendLe32(&root.value, 0);        // date
  host::AppendLe32(&root.value, 0);
  root.valueLength = uint16_t(root.value.size());
  Node table;
  table.key = u"040904B0";
  for (const auto& [key, value] : info.strings) table.children.push_back(Text(key, value));
  Node strings;
  strings.key = u"StringFileInfo";
  strings.children.push_back(table);
  Node translation;
  translation.key = u"Translation";
  translation.type = 0;
  host::AppendLe16(&translation.value, kUsEnglish);
  host::AppendLe16(&translation.value, 1200);  // Unicode
  translation.valueLength = 4;
  Node variables;
  variables.key = u"VarFileInfo";
  variables.children.push_back(translation);
  root.children = {strings, variables};
  std::vector<uint8_t> out;
  if (!Write(root, &out)) out.clear();
  return out;
}

}  // namespace pe
