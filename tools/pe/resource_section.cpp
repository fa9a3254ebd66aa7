// Reading a resource section as a list, and writing it anew.
#include "tools/pe/resource_section.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "tools/pe/pe_rewrite.h"

namespace pe {

namespace {

uint32_t AlignUp(uint32_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// A directory entry's key: names (compared in capitals, as resource
// compilers store them) before ids.
struct Key {
  std::string name;
  uint32_t id = 0;
  bool operator<(const Key& o) const {
    if (name.empty() != o.name.empty()) return !name.empty();
    if (!name.empty()) {
      std::string a = name, b = o.name;
      for (char& c : a) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      for (char& c : b) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      return a != b ? a < b : name < o.name;
    }
    return id < o.id;
  }
};

using Languages = std::map<uint32_t, const Resource*>;
using Names = std::map<Key, Languages>;
using Types = std::map<uint32_t, Names>;

// One directory: its header (no characteristics, stamp or version, as the
// build leaves them) and `count` entries, `named` of them by name.
void PutDirectory(std::vector<uint8_t>* out, uint32_t at, uint32_t named, uint32_t count) {
  host::PutLe16(out, at + 12, named);
  host::PutLe16(out, at + 14, count - named);
}

}  // namespace

bool ListResources(host::ByteView b, const ImageInfo& info, std::vector<Resource>* out,
                   std::string* error) {
  out->clear();
  const uint32_t root = RvaToOffset(info, info.resourceRva);
  if (info.resourceRva == 0) return true;
  if (root == 0 || root + 16 > b.size()) return *error = "resource directory outside the file", false;
  // Entries of the directory at `at` (an offset from the root): (id or name, target).
  auto entries = [&](uint32_t at, std::vector<std::pair<std::pair<uint32_t, std::string>, uint32_t>>* list) {
    const uint64_t dir = uint64_t(root) + at;
    if (dir + 16 > b.size()) return false;
    const uint32_t count = uint32_t(host::Le16(b, dir + 12)) + host::Le16(b, dir + 14);
    if (dir + 16 + 8ull * count > b.size()) return false;
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t name = host::Le32(b, dir + 16 + 8 * i), target = host::Le32(b, dir + 16 + 8 * i + 4);
      std::string text;
      if (name & 0x80000000u) {
        const uint64_t s = uint64_t(root) + (name & 0x7FFFFFFFu);
        if (s + 2 > b.size()) return false;
        const uint16_t length = host::Le16(b, s);
        if (s + 2 + 2ull * length > b.size()) return false;
        for (uint16_t k = 0; k < length; ++k) text += static_cast<char>(host::Le16(b, s + 2 + 2 * k));
      }
      list->push_back({{name & 0x80000000u ? 0 : name, text}, target});
    }
    return true;
  };
  std::vector<std::pair<std::pair<uint32_t, std::string>, uint32_t>> types;
  if (!entries(0, &types)) return *error = "resource directory cut short", false;
  for (const auto& type : types) {
    std::vector<std::pair<std::pair<uint32_t, std::string>, uint32_t>> names;
    if (!(type.second & 0x80000000u) || !entries(type.second & 0x7FFFFFFFu, &names)) {
      return *error = "resource type directory cut short", false;
    }
    for (const auto& name : names) {
      std::vector<std::pair<std::pair<uint32_t, std::string>, uint32_t>> languages;
      if (!(name.second & 0x80000000u) || !entries(name.second & 0x7FFFFFFFu, &languages)) {
        return *error = "resource name directory cut short", false;
      }
      for (const auto& language : languages) {
        const uint64_t leaf = uint64_t(root) + (language.second & 0x7FFFFFFFu);
        if ((language.second & 0x80000000u) || leaf + 16 > b.size()) return *error = "resource entry cut short", false;
        const uint32_t data = RvaToOffset(info, host::Le32(b, leaf)), size = host::Le32(b, leaf + 4);
        if (data == 0 || uint64_t(data) + size > b.size()) return *error = "resource data outside the file", false;
        Resource r;
        r.type = type.first.first;
        r.id = name.first.first;
        r.name = name.first.second;
        r.language = language.first.first;
        r.data.assign(b.begin() + data, b.begin() + data + size);
        out->push_back(std::move(r));
      }
    }
  }
  return true;
}

std::vector<uint8_t> ResourceSectionBytes(const std::vector<Resource>& resources, uint32_t rva) {
  Types types;
  for (const Resource& r : resources) types[r.type][Key{r.name, r.id}][r.language] = &r;
  // Where everything goes: directories, data entries, names, data.
  uint32_t size = 16 + 8 * uint32_t(types.size());
  uint32_t leaves = 0;
  for (const auto& [type, names] : types) {
    size += 16 + 8 * uint32_t(names.size());
    for (const auto& [key, languages] : names) {
      size += 16 + 8 * uint32_t(languages.size());
      leaves += uint32_t(languages.size());
    }
  }
  const uint32_t dataEntries = size;
  size += 16 * leaves;
  std::map<std::string, uint32_t> nameAt;
  for (const auto& [type, names] : types) {
    for (const auto& [key, languages] : names) {
      if (!key.name.empty() && !nameAt.count(key.name)) {
        nameAt[key.name] = size;
        size += 2 + 2 * uint32_t(key.name.size());
      }
    }
  }
  std::vector<uint8_t> out(AlignUp(size, 8));
  uint32_t next = 16 + 8 * uint32_t(types.size());  // the next directory
  uint32_t leaf = dataEntries;
  auto entry = [&](uint32_t dir, uint32_t index, const Key& key, uint32_t target) {
    const uint32_t at = dir + 16 + 8 * index;
    host::PutLe32(&out, at, key.name.empty() ? key.id : 0x80000000u | nameAt.at(key.name));
    host::PutLe32(&out, at + 4, target);
  };
  PutDirectory(&out, 0, 0, uint32_t(types.size()));
  uint32_t t = 0;
  for (const auto& [type, names] : types) {
    const uint32_t typeDir = next;
    next += 16 + 8 * uint32_t(names.size());
    entry(0, t++, Key{"", type}, 0x80000000u | typeDir);
    const uint32_t named = uint32_t(std::count_if(names.begin(), names.end(),
                                                  [](const auto& n) { return !n.first.name.empty(); }));
    PutDirectory(&out, typeDir, named, uint32_t(names.size()));
    uint32_t n = 0;
    for (const auto& [key, languages] : names) {
      const uint32_t nameDir = next;
      next += 16 + 8 * uint32_t(languages.size());
      entry(typeDir, n++, key, 0x80000000u | nameDir);
      PutDirectory(&out, nameDir, 0, uint32_t(languages.size()));
      uint32_t l = 0;
      for (const auto& [language, resource] : languages) {
        entry(nameDir, l++, Key{"", language}, leaf);
        // The data entry: the data's RVA and size (code page 0).
        const uint32_t data = uint32_t(out.size());
        host::PutLe32(&out, leaf, rva + data);
        host::PutLe32(&out, leaf + 4, uint32_t(resource->data.size()));
        leaf += 16;
        out.insert(out.end(), resource->data.begin(), resource->data.end());
        out.resize(AlignUp(uint32_t(out.size()), 8));
      }
    }
  }
  for (const auto& [name, at] : nameAt) {
    host::PutLe16(&out, at, uint32_t(name.size()));
    for (size_t k = 0; k < name.size(); ++k) host::PutLe16(&out, at + 2 + 2 * k, static_cast<unsigned char>(name[k]));
  }
  return out;
}

bool ReplaceResources(std::vector<uint8_t>* image, const std::vector<Resource>& resources, std::string* error) {
  ImageInfo info;
  if (!Parse(*image, &info, error)) return false;
  if (info.imageEnd != image->size()) return *error = "data after the last section", false;
  const uint32_t oh = info.peOffset + 24;
  constexpr uint32_t kResourceDirectory = 2, kRelocationDirectory = 5;
  if (host::Le32(*image, oh + 92) <= kRelocationDirectory || info.sectionTableOffset < oh + 96 + 8 * 6) {
    return *error = "the optional header has no base relocation entry", false;
  }
  const uint32_t sectionAlignment = host::Le32(*image, oh + 32), fileAlignment = host::Le32(*image, oh + 36);
  if (fileAlignment == 0 || sectionAlignment == 0) return *error = "no section or file alignment", false;
  // As Windows takes them: a file alignment that is a power of two from 512
  // to 64 KiB (a larger one would pad the section to the alignment's size).
  if (fileAlignment < 512 || fileAlignment > 0x10000 || (fileAlignment & (fileAlignment - 1)) != 0) {
    return *error = "FileAlignment " + std::to_string(fileAlignment) + " is not a power of two from 512 to 65536", false;
  }
  size_t rsrc = info.sections.size();
  for (size_t i = 0; i < info.sections.size(); ++i) {
    if (info.resourceRva != 0 && info.sections[i].virtualAddress == info.resourceRva) rsrc = i;
  }
  if (rsrc == info.sections.size()) return *error = "no section begins with the resource directory", false;
  const uint32_t relocationRva = host::Le32(*image, oh + 96 + 8 * kRelocationDirectory);
  for (size_t i = rsrc + 1; i < info.sections.size(); ++i) {
    if (info.sections[i].virtualAddress != relocationRva || i + 1 != info.sections.size()) {
      return *error = "section " + info.sections[i].name + " follows the resources", false;
    }
  }
  const Section old = info.sections[rsrc];
  const std::vector<uint8_t> data = ResourceSectionBytes(resources, old.virtualAddress);
  std::vector<uint8_t> after;  // the base relocations, when they follow
  Section moved{};
  if (rsrc + 1 < info.sections.size()) {
    moved = info.sections[rsrc + 1];
    after.assign(image->begin() + moved.rawPointer, image->begin() + moved.rawPointer + moved.rawSize);
  }
  const uint32_t rawSize = AlignUp(uint32_t(data.size()), fileAlignment);
  image->resize(old.rawPointer);
  image->insert(image->end(), data.begin(), data.end());
  image->resize(old.rawPointer + rawSize);
  const uint32_t rsrcHeader = info.sectionTableOffset + 40 * uint32_t(rsrc);
  host::PutLe32(image, rsrcHeader + 8, uint32_t(data.size()));
  host::PutLe32(image, rsrcHeader + 16, rawSize);
  host::PutLe32(image, oh + 96 + 8 * kResourceDirectory + 4, uint32_t(data.size()));
  uint32_t end = AlignUp(old.virtualAddress + uint32_t(data.size()), sectionAlignment);
  if (rsrc + 1 < info.sections.size()) {
    const uint32_t header = rsrcHeader + 40;
    const uint32_t address = end;
    host::PutLe32(image, header + 12, address);
    host::PutLe32(image, header + 20, uint32_t(image->size()));
    image->insert(image->end(), after.begin(), after.end());
    host::PutLe32(image, oh + 96 + 8 * kRelocationDirectory, address);
    end = AlignUp(address + std::max(moved.virtualSize, moved.rawSize), sectionAlignment);
  }
  host::PutLe32(image, oh + 56, end);                                           // SizeOfImage
  const uint32_t initialized = host::Le32(*image, oh + 8);                     // SizeOfInitializedData
  host::PutLe32(image, oh + 8, initialized >= old.rawSize ? initialized - old.rawSize + rawSize : rawSize);
  host::PutLe32(image, info.checkSumOffset, 0);
  host::PutLe32(image, info.checkSumOffset, Checksum(*image, info.checkSumOffset));
  return true;
}

}  // namespace pe
