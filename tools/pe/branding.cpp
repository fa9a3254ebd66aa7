#include "tools/pe/branding.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "tools/pe/resource_section.h"

namespace pe {

namespace {

uint16_t U16(host::ByteView b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
uint32_t U32(host::ByteView b, size_t at) { return uint32_t(U16(b, at)) | uint32_t(U16(b, at + 2)) << 16; }
void Add16(std::vector<uint8_t>* out, uint32_t v) {
  out->push_back(uint8_t(v));
  out->push_back(uint8_t(v >> 8));
}
void Add32(std::vector<uint8_t>* out, uint32_t v) {
  Add16(out, v & 0xFFFF);
  Add16(out, v >> 16);
}
void Pad4(std::vector<uint8_t>* out) { out->resize((out->size() + 3) & ~size_t(3)); }
std::u16string Wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr const char* kMainIcon = "MAINICON";
constexpr uint32_t kUsEnglish = 0x409;
const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

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
  Add16(out, 0);
  Add16(out, node.valueLength);
  Add16(out, node.type);
  for (char16_t c : node.key) Add16(out, c);
  Add16(out, 0);
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
  const size_t length = U16(b, at);
  if (length < 6 || at + length > limit) return false;
  *end = at + length;
  node->valueLength = U16(b, at + 2);
  node->type = U16(b, at + 4);
  size_t p = at + 6;
  for (; p + 2 <= *end && U16(b, p) != 0; p += 2) node->key += char16_t(U16(b, p));
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
  for (char16_t c : value) Add16(&n.value, c);
  Add16(&n.value, 0);
  n.valueLength = uint16_t(std::min<size_t>(value.size() + 1, 0xFFFF));
  return n;
}

// The images an icon group names, by their ids.
std::vector<uint32_t> GroupIds(const std::vector<uint8_t>& group) {
  std::vector<uint32_t> ids;
  if (group.size() < 6) return ids;
  const size_t count = U16(group, 4);
  for (size_t i = 0; i < count && 6 + 14 * (i + 1) <= group.size(); ++i) ids.push_back(U16(group, 6 + 14 * i + 12));
  return ids;
}

bool IsMainIcon(const Resource& r) { return r.type == kResourceGroupIcon && r.name == kMainIcon; }

// The image's resources, or false with a reason.
bool Resources(host::ByteView image, std::vector<Resource>* out, std::string* error) {
  ImageInfo info;
  return Parse(image, &info, error) && ListResources(image, info, out, error);
}

// Removes "MAINICON" and the images only it names; returns its language.
uint32_t RemoveMainIcon(std::vector<Resource>* resources) {
  std::set<uint32_t> ours, others;
  uint32_t language = kUsEnglish;
  for (const Resource& r : *resources) {
    if (r.type != kResourceGroupIcon) continue;
    for (uint32_t id : GroupIds(r.data)) (IsMainIcon(r) ? ours : others).insert(id);
    if (IsMainIcon(r)) language = r.language;
  }
  resources->erase(std::remove_if(resources->begin(), resources->end(),
                                  [&](const Resource& r) {
                                    return IsMainIcon(r) || (r.type == kResourceIcon && r.name.empty() &&
                                                             ours.count(r.id) && !others.count(r.id));
                                  }),
                   resources->end());
  return language;
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
      U32(root.value, 0) != kFixedSignature) {
    return false;
  }
  auto number = [&](size_t at) {
    return VersionNumber{uint16_t(U32(root.value, at) >> 16), uint16_t(U32(root.value, at)),
                         uint16_t(U32(root.value, at + 4) >> 16), uint16_t(U32(root.value, at + 4))};
  };
  out->fileVersion = number(8);
  out->productVersion = number(16);
  for (const Node& info : root.children) {
    if (info.key != u"StringFileInfo") continue;
    for (const Node& table : info.children) {
      for (const Node& s : table.children) {
        std::u16string value;
        for (size_t k = 0; k + 1 < s.value.size() && U16(s.value, k) != 0; k += 2) value += char16_t(U16(s.value, k));
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
  Add32(&root.value, kFixedSignature);
  Add32(&root.value, 0x00010000);  // structure version 1.0
  for (const VersionNumber* v : {&info.fileVersion, &info.productVersion}) {
    Add32(&root.value, uint32_t((*v)[0]) << 16 | (*v)[1]);
    Add32(&root.value, uint32_t((*v)[2]) << 16 | (*v)[3]);
  }
  Add32(&root.value, 0x3F);     // file flags mask
  Add32(&root.value, 0);        // file flags
  Add32(&root.value, 0x40004);  // VOS_NT_WINDOWS32
  Add32(&root.value, 1);        // VFT_APP
  Add32(&root.value, 0);        // subtype
  Add32(&root.value, 0);        // date
  Add32(&root.value, 0);
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
  Add16(&translation.value, kUsEnglish);
  Add16(&translation.value, 1200);  // Unicode
  translation.valueLength = 4;
  Node variables;
  variables.key = u"VarFileInfo";
  variables.children.push_back(translation);
  root.children = {strings, variables};
  std::vector<uint8_t> out;
  if (!Write(root, &out)) out.clear();
  return out;
}

bool ParseIco(host::ByteView file, std::vector<IconImage>* images, std::string* problem) {
  images->clear();
  if (file.size() > kIconFileLimit) {
    return *problem = std::to_string(file.size()) + " bytes, more than the " + std::to_string(kIconFileLimit >> 20) +
                      " MiB an icon may have", false;
  }
  if (file.size() < 6 || U16(file, 0) != 0 || U16(file, 2) != 1) return *problem = "not an .ico file", false;
  const size_t count = U16(file, 4);
  if (count == 0) return *problem = "an .ico file with no images", false;
  const size_t directoryEnd = 6 + 16 * count;
  if (directoryEnd > file.size()) return *problem = "its list of images runs past the end of the file", false;
  std::vector<std::pair<size_t, size_t>> spans;
  for (size_t i = 0; i < count; ++i) {
    const size_t e = 6 + 16 * i;
    const std::string which = "image " + std::to_string(i + 1) + " ";
    const size_t size = U32(file, e + 8), offset = U32(file, e + 12);
    if (size == 0 || offset < directoryEnd || offset > file.size() || size > file.size() - offset) {
      return *problem = which + "lies outside the file", false;
    }
    spans.emplace_back(offset, offset + size);
    IconImage image;
    image.width = file[e];
    image.height = file[e + 1];
    image.colors = file[e + 2];
    image.planes = U16(file, e + 4);
    image.bitCount = U16(file, e + 6);
    const host::ByteView data(file.data() + offset, size);
    if (size >= 8 && std::memcmp(data.data(), kPngSignature, 8) == 0) {
      image.png = true;
    } else if (size >= 40 && (U32(data, 0) == 40 || U32(data, 0) == 108 || U32(data, 0) == 124)) {
      // BITMAPINFOHEADER: the colour bitmap and the mask, each row on a
      // 4-byte boundary, the height counting both.
      const int32_t width = int32_t(U32(data, 4)), height = int32_t(U32(data, 8));
      const uint32_t bits = U16(data, 14), used = U32(data, 32);
      if (width <= 0 || width > 1024 || height <= 0 || height > 2048 || U16(data, 12) != 1 ||
          (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) ||
          used > (bits <= 8 ? (1u << bits) : 256u)) {
        return *problem = which + "has a bitmap header that no icon has", false;
      }
      const uint64_t rows = uint64_t(height) / 2;
      const uint64_t palette = 4ull * (used != 0 ? used : bits <= 8 ? (1u << bits) : 0);
      const uint64_t needed = U32(data, 0) + palette + rows * ((uint64_t(width) * bits + 31) / 32 * 4) +
                              rows * ((uint64_t(width) + 31) / 32 * 4);
      if (needed > size) {
        return *problem = which + "is a bitmap whose header needs " + std::to_string(needed) + " bytes, but it has " +
                          std::to_string(size), false;
      }
    } else {
      return *problem = which + "is neither a PNG (no PNG signature) nor a bitmap", false;
    }
    image.data = data.ToBytes();
    images->push_back(std::move(image));
  }
  std::sort(spans.begin(), spans.end());
  for (size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].first < spans[i - 1].second) return *problem = "two of its images overlap", false;
  }
  return true;
}

bool Brand(std::vector<uint8_t>* image, const Branding& b, std::string* error, bool* tooLong) {
  if (tooLong) *tooLong = false;
  std::vector<Resource> resources;
  if (!Resources(*image, &resources, error)) return false;
  VersionInfo version;
  uint32_t versionLanguage = kUsEnglish;
  for (const Resource& r : resources) {
    if (r.type == kResourceVersion && ReadVersionInfo(r.data, &version)) versionLanguage = r.language;
  }
  if (b.productVersion) version.productVersion = *b.productVersion;
  if (b.fileVersion || b.productVersion) version.fileVersion = b.fileVersion.value_or(*b.productVersion);
  auto text = [&](const char* key, const std::optional<std::u16string>& given, const std::u16string& fallback) {
    const std::u16string* old = version.Find(key);
    return std::make_pair(std::string(key), given ? *given : old ? *old : fallback);
  };
  const std::u16string fileText = Wide(VersionText(version.fileVersion));
  const std::u16string productText = Wide(VersionText(version.productVersion));
  const bool numbersGiven = b.fileVersion || b.productVersion;
  version.strings = {
      text("CompanyName", b.company, u""),
      text("FileDescription", b.description, u""),
      text("FileVersion", numbersGiven ? std::optional(fileText) : std::nullopt, fileText),
      text("ProductName", b.product, u""),
      text("ProductVersion", numbersGiven ? std::optional(productText) : std::nullopt, productText),
      text("LegalCopyright", b.copyright, u""),
      {"OriginalFilename", b.originalFilename},
  };
  Resource block;
  block.type = kResourceVersion;
  block.id = 1;
  block.language = versionLanguage;
  block.data = VersionInfoBytes(version);
  if (block.data.empty()) {
    if (tooLong) *tooLong = true;
    return *error = "the version strings do not fit the 65535 bytes of a version block", false;
  }
  resources.erase(std::remove_if(resources.begin(), resources.end(),
                                 [](const Resource& r) { return r.type == kResourceVersion; }),
                  resources.end());
  resources.push_back(std::move(block));
  if (b.icon) {
    const uint32_t language = RemoveMainIcon(&resources);
    std::set<uint32_t> taken;
    for (const Resource& r : resources) {
      if (r.type == kResourceIcon && r.name.empty()) taken.insert(r.id);
    }
    Resource group;
    group.type = kResourceGroupIcon;
    group.name = kMainIcon;
    group.language = language;
    Add16(&group.data, 0);
    Add16(&group.data, 1);
    Add16(&group.data, uint32_t(b.icon->size()));
    uint32_t id = 1;
    for (const IconImage& i : *b.icon) {
      while (taken.count(id)) ++id;
      taken.insert(id);
      group.data.insert(group.data.end(), {i.width, i.height, i.colors, 0});
      Add16(&group.data, i.planes);
      Add16(&group.data, i.bitCount);
      Add32(&group.data, uint32_t(i.data.size()));
      Add16(&group.data, id);
      resources.push_back(Resource{kResourceIcon, id, "", language, i.data});
    }
    resources.push_back(std::move(group));
  }
  return ReplaceResources(image, resources, error);
}

bool WithoutBranding(std::vector<uint8_t>* image, std::string* error) {
  std::vector<Resource> resources;
  if (!Resources(*image, &resources, error)) return false;
  RemoveMainIcon(&resources);
  resources.erase(std::remove_if(resources.begin(), resources.end(),
                                 [](const Resource& r) { return r.type == kResourceVersion; }),
                  resources.end());
  return ReplaceResources(image, resources, error);
}

bool ReadBranding(host::ByteView image, BrandingView* out, std::string* error) {
  *out = BrandingView();
  std::vector<Resource> resources;
  if (!Resources(image, &resources, error)) return false;
  for (const Resource& r : resources) {
    if (r.type == kResourceVersion && !out->hasVersion) out->hasVersion = ReadVersionInfo(r.data, &out->version);
  }
  for (const Resource& group : resources) {
    if (!IsMainIcon(group)) continue;
    const std::vector<uint32_t> ids = GroupIds(group.data);
    for (size_t i = 0; i < ids.size(); ++i) {
      const uint8_t* e = group.data.data() + 6 + 14 * i;
      IconImage icon;
      icon.width = e[0];
      icon.height = e[1];
      icon.colors = e[2];
      icon.planes = U16(group.data, 6 + 14 * i + 4);
      icon.bitCount = U16(group.data, 6 + 14 * i + 6);
      for (const Resource& r : resources) {
        if (r.type == kResourceIcon && r.name.empty() && r.id == ids[i]) icon.data = r.data;
      }
      icon.png = icon.data.size() >= 8 && std::memcmp(icon.data.data(), kPngSignature, 8) == 0;
      out->icons.push_back(std::move(icon));
    }
    break;
  }
  return true;
}

}  // namespace pe
