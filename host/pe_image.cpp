#include "host/pe_image.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace pe {

namespace {

uint16_t U16(host::ByteView b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
uint32_t U32(host::ByteView b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
         uint32_t(b[at + 3]) << 24;
}
void Put16(std::vector<uint8_t>* b, size_t at, uint16_t v) {
  (*b)[at] = uint8_t(v);
  (*b)[at + 1] = uint8_t(v >> 8);
}
void Put32(std::vector<uint8_t>* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = uint8_t(v >> (8 * i));
}

void UpdateChecksum(std::vector<uint8_t>* b, const ImageInfo& info) {
  Put32(b, info.checkSumOffset, 0);
  Put32(b, info.checkSumOffset, Checksum(*b, info.checkSumOffset));
}

// A DOS program that prints its message and ends with code 1.
const uint8_t kStubCode[] = {0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09,
                             0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
const char kStubMessage[] = "This program must be run under Win32\r\n$";

}  // namespace

bool Parse(host::ByteView b, ImageInfo* info, std::string* error) {
  *info = ImageInfo();
  if (b.size() < 64 || b[0] != 'M' || b[1] != 'Z') return *error = "no MZ header", false;
  const uint32_t pe = U32(b, 60);
  if (pe > b.size() || b.size() - pe < 24 + 96) return *error = "e_lfanew out of range", false;
  if (std::memcmp(&b[pe], "PE\0\0", 4) != 0) return *error = "no PE signature", false;
  info->peOffset = pe;
  const uint32_t fh = pe + 4;
  info->machine = U16(b, fh);
  info->sectionCount = U16(b, fh + 2);
  info->timeDateStamp = U32(b, fh + 4);
  const uint16_t optionalSize = U16(b, fh + 16);
  info->characteristics = U16(b, fh + 18);
  const uint32_t oh = fh + 20;
  if (optionalSize < 96 || oh + optionalSize > b.size()) return *error = "optional header cut", false;
  info->optionalMagic = U16(b, oh);
  if (info->optionalMagic != kOptionalMagicPe32) return *error = "not PE32", false;
  info->sizeOfHeaders = U32(b, oh + 60);
  info->checkSumOffset = oh + 64;
  info->checkSum = U32(b, oh + 64);
  info->subsystem = U16(b, oh + 68);
  info->majorSubsystemVersion = U16(b, oh + 48);
  info->minorSubsystemVersion = U16(b, oh + 50);
  const uint32_t directories = U32(b, oh + 92);
  // Data directory `index` (address, size), when the header has it.
  auto directory = [&](uint32_t index, uint32_t* address, uint32_t* size) {
    if (directories <= index || optionalSize < 96 + 8 * (index + 1)) return;
    *address = U32(b, oh + 96 + 8 * index);
    *size = U32(b, oh + 96 + 8 * index + 4);
  };
  directory(1, &info->importRva, &info->importSize);
  directory(2, &info->resourceRva, &info->resourceSize);
  directory(4, &info->securityOffset, &info->securitySize);
  directory(5, &info->relocationRva, &info->relocationSize);
  directory(13, &info->delayImportRva, &info->delayImportSize);
  info->sectionTableOffset = oh + optionalSize;
  info->headersEnd = info->sectionTableOffset + 40u * info->sectionCount;
  if (info->headersEnd > b.size()) return *error = "section table cut", false;
  for (uint32_t i = 0; i < info->sectionCount; ++i) {
    const uint32_t s = info->sectionTableOffset + 40 * i;
    Section section;
    section.name.assign(reinterpret_cast<const char*>(&b[s]), strnlen(reinterpret_cast<const char*>(&b[s]), 8));
    section.virtualSize = U32(b, s + 8);
    section.virtualAddress = U32(b, s + 12);
    section.rawSize = U32(b, s + 16);
    section.rawPointer = U32(b, s + 20);
    if (section.rawSize != 0 && section.rawPointer + section.rawSize > info->imageEnd) {
      info->imageEnd = section.rawPointer + section.rawSize;
    }
    info->sections.push_back(section);
  }
  if (info->imageEnd > b.size()) return *error = "sections run past the end of the file", false;
  if (info->imageEnd < info->sizeOfHeaders) info->imageEnd = info->sizeOfHeaders;
  return true;
}

uint32_t Checksum(host::ByteView b, uint32_t checkSumOffset) {
  uint64_t sum = 0;
  for (size_t i = 0; i + 1 < b.size() + 1; i += 2) {
    if (i == checkSumOffset || i == checkSumOffset + 2) continue;
    uint32_t word = b[i] | (i + 1 < b.size() ? b[i + 1] << 8 : 0);
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + b.size());
}

bool MakeLocatorRoom(std::vector<uint8_t>* image, std::string* error) {
  ImageInfo info;
  if (!Parse(*image, &info, error)) return false;
  constexpr uint32_t kNewPe = 0x100;
  const uint32_t span = info.headersEnd - info.peOffset;
  if (info.peOffset != kNewPe) {
    uint32_t firstRaw = info.sizeOfHeaders;
    for (const Section& s : info.sections) {
      if (s.rawSize != 0 && s.rawPointer < firstRaw) firstRaw = s.rawPointer;
    }
    if (kNewPe + span > firstRaw) return *error = "no room to move the PE headers to 0x100", false;
    std::vector<uint8_t> headers(image->begin() + info.peOffset, image->begin() + info.headersEnd);
    std::fill(image->begin() + 64, image->begin() + firstRaw, 0);
    std::copy(headers.begin(), headers.end(), image->begin() + kNewPe);
  }
  std::fill(image->begin() + 64, image->begin() + kNewPe, 0);
  // DOS header: one 512-byte page of which 128 bytes are used, 4 paragraphs
  // of header, and the stub right behind it.
  Put16(image, 2, 128);
  Put16(image, 4, 1);
  Put16(image, 8, 4);
  Put16(image, 24, 64);
  Put32(image, 60, kNewPe);
  std::memcpy(image->data() + 64, kStubCode, sizeof kStubCode);
  std::memcpy(image->data() + 64 + sizeof kStubCode, kStubMessage, sizeof kStubMessage - 1);
  if (!Parse(*image, &info, error)) return false;
  Put16(image, info.peOffset + 4 + 18, info.characteristics | kLargeAddressAware);
  UpdateChecksum(image, info);
  return true;
}

uint32_t RvaToOffset(const ImageInfo& info, uint32_t rva) {
  for (const Section& s : info.sections) {
    if (rva >= s.virtualAddress && rva < s.virtualAddress + std::max(s.virtualSize, s.rawSize)) {
      return rva - s.virtualAddress + s.rawPointer;
    }
  }
  return 0;
}

namespace {

std::string MachineName(uint16_t machine) {
  if (machine == kMachineI386) return "i386 (32-bit)";
  if (machine == kMachineAmd64) return "x86-64 (64-bit)";
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%04X", machine);
  return buffer;
}

}  // namespace

uint64_t HeadNeeded(host::ByteView b) {
  if (b.size() < 64) return 64;
  const uint64_t pe = U32(b, 60);
  if (b.size() < pe + 24) return pe + 24;
  return pe + 24 + U16(b, pe + 20) + 40ull * U16(b, pe + 6);
}

bool CheckProgram(host::ByteView b, uint16_t machine, std::string* problem) {
  return CheckProgram(b, b.size(), machine, problem);
}

bool CheckProgram(host::ByteView b, uint64_t size, uint16_t machine, std::string* problem) {
  // `b` is the file's start: every byte read below lies before HeadNeeded.
  if (b.size() < size && b.size() < HeadNeeded(b)) throw std::logic_error("CheckProgram: the headers are not at hand");
  if (size < 64 || b[0] != 'M' || b[1] != 'Z') return *problem = "not a Windows program (no MZ header)", false;
  const uint32_t pe = U32(b, 60);
  if (pe > size || size - pe < 24) return *problem = "not a Windows program (PE header outside the file)", false;
  if (std::memcmp(&b[pe], "PE\0\0", 4) != 0) return *problem = "not a Windows program (no PE signature)", false;
  const uint16_t found = U16(b, pe + 4);
  if (found != machine) {
    return *problem = "machine type " + MachineName(found) + ", where " + MachineName(machine) + " belongs", false;
  }
  const uint16_t sections = U16(b, pe + 6);
  const uint16_t optionalSize = U16(b, pe + 20);
  const uint32_t oh = pe + 24;
  if (optionalSize < 2 || uint64_t(oh) + optionalSize > size) return *problem = "optional header cut short", false;
  const uint16_t magic = U16(b, oh);
  if (magic != (machine == kMachineAmd64 ? 0x20B : kOptionalMagicPe32)) {
    return *problem = "optional header of the wrong kind for its machine type", false;
  }
  // What Windows starts as a process: a finished executable image, no DLL,
  // for neither the kernel (native) nor the firmware (EFI).
  const uint16_t characteristics = U16(b, pe + 22);
  if (!(characteristics & kExecutableImage)) {
    return *problem = "not marked as an executable image (IMAGE_FILE_EXECUTABLE_IMAGE is missing)", false;
  }
  if (characteristics & kDll) return *problem = "a DLL, not a program", false;
  const uint16_t subsystem = optionalSize >= 70 ? U16(b, oh + 68) : 0;
  if (subsystem == kSubsystemNative) return *problem = "a native image (subsystem 1), not a Windows program", false;
  if (subsystem >= kSubsystemEfiApplication && subsystem <= kSubsystemEfiRom) {
    return *problem = "an EFI image (subsystem " + std::to_string(subsystem) + "), not a Windows program", false;
  }
  const uint64_t table = uint64_t(oh) + optionalSize;
  if (table + 40ull * sections > size) return *problem = "section table runs past the end of the file", false;
  // The loader reads the file in units of the file alignment: section data
  // may end inside the last, partly present unit, not beyond it.
  uint32_t alignment = optionalSize >= 40 ? U32(b, oh + 36) : 0;
  if (alignment < 512 || (alignment & (alignment - 1)) != 0) alignment = 512;
  const uint64_t end = (size + alignment - 1) / alignment * alignment;
  for (uint32_t i = 0; i < sections; ++i) {
    const uint64_t s = table + 40ull * i;
    const uint32_t rawSize = U32(b, s + 16), rawPointer = U32(b, s + 20);
    if (rawSize != 0 && uint64_t(rawPointer) + rawSize > end) {
      return *problem = "section " + std::to_string(i + 1) + " runs past the end of the file (program cut short)",
             false;
    }
  }
  return true;
}

bool ClearSignatureAndChecksum(std::vector<uint8_t>* file) {
  ImageInfo info;
  std::string error;
  if (!Parse(*file, &info, &error)) return false;
  const uint32_t oh = info.peOffset + 24;
  if (U32(*file, oh + 92) > 4) {
    Put32(file, oh + 96 + 8 * 4, 0);
    Put32(file, oh + 96 + 8 * 4 + 4, 0);
  }
  UpdateChecksum(file, info);
  return true;
}

namespace {

// The NUL-terminated name at `rva`, or false when it does not lie in the file.
bool NameAt(host::ByteView b, const ImageInfo& info, uint32_t rva, std::string* name) {
  const uint32_t at = RvaToOffset(info, rva);
  if (at == 0 || at >= b.size()) return false;
  const void* end = std::memchr(&b[at], 0, b.size() - at);
  if (end == nullptr) return false;
  name->assign(reinterpret_cast<const char*>(&b[at]), static_cast<const uint8_t*>(end) - &b[at]);
  return true;
}

// Walks a table of `entrySize`-byte descriptors that ends with an all-zero
// one, taking the DLL name RVA at `nameField` of each.
bool DllNames(host::ByteView b, const ImageInfo& info, uint32_t rva, uint32_t entrySize,
              uint32_t nameField, std::vector<std::string>* dlls, std::string* error) {
  if (rva == 0) return true;
  uint32_t at = RvaToOffset(info, rva);
  if (at == 0) return *error = "import table outside every section", false;
  for (;; at += entrySize) {
    if (at + entrySize > b.size()) return *error = "import table runs past the end of the file", false;
    bool zero = true;
    for (uint32_t i = 0; i < entrySize; ++i) zero = zero && b[at + i] == 0;
    if (zero) return true;
    std::string name;
    if (!NameAt(b, info, U32(b, at + nameField), &name)) return *error = "import name outside the file", false;
    dlls->push_back(name);
  }
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
    const uint32_t count = uint32_t(U16(b, dir + 12)) + U16(b, dir + 14);
    if (dir + 16 + 8ull * count > b.size()) return false;
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t name = U32(b, dir + 16 + 8 * i), target = U32(b, dir + 16 + 8 * i + 4);
      std::string text;
      if (name & 0x80000000u) {
        const uint64_t s = uint64_t(root) + (name & 0x7FFFFFFFu);
        if (s + 2 > b.size()) return false;
        const uint16_t length = U16(b, s);
        if (s + 2 + 2ull * length > b.size()) return false;
        for (uint16_t k = 0; k < length; ++k) text += static_cast<char>(U16(b, s + 2 + 2 * k));
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
        const uint32_t data = RvaToOffset(info, U32(b, leaf)), size = U32(b, leaf + 4);
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

bool ImportedDlls(host::ByteView image, const ImageInfo& info,
                  std::vector<std::string>* dlls, std::string* error) {
  dlls->clear();
  // IMAGE_IMPORT_DESCRIPTOR: 20 bytes, the name RVA at 12.
  // ImgDelayDescr: 32 bytes, the name RVA at 4.
  return DllNames(image, info, info.importRva, 20, 12, dlls, error) &&
         DllNames(image, info, info.delayImportRva, 32, 4, dlls, error);
}

}  // namespace pe
