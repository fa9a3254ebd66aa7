// Reading a PE image's headers, and the checks of whether Windows starts a file.
#include "host/pe_image.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace pe {

bool Parse(host::ByteView b, ImageInfo* info, std::string* error) {
  *info = ImageInfo();
  if (b.size() < 64 || b[0] != 'M' || b[1] != 'Z') return *error = "no MZ header", false;
  const uint32_t pe = host::Le32(b, 60);
  if (pe > b.size() || b.size() - pe < 24 + 96) return *error = "e_lfanew out of range", false;
  if (std::memcmp(&b[pe], "PE\0\0", 4) != 0) return *error = "no PE signature", false;
  info->peOffset = pe;
  const uint32_t fh = pe + 4;
  info->machine = host::Le16(b, fh);
  info->sectionCount = host::Le16(b, fh + 2);
  info->timeDateStamp = host::Le32(b, fh + 4);
  const uint16_t optionalSize = host::Le16(b, fh + 16);
  info->characteristics = host::Le16(b, fh + 18);
  const uint32_t oh = fh + 20;
  if (optionalSize < 96 || oh + optionalSize > b.size()) return *error = "optional header cut", false;
  info->optionalMagic = host::Le16(b, oh);
  if (info->optionalMagic != kOptionalMagicPe32) return *error = "not PE32", false;
  info->sizeOfHeaders = host::Le32(b, oh + 60);
  info->checkSumOffset = oh + 64;
  info->checkSum = host::Le32(b, oh + 64);
  info->subsystem = host::Le16(b, oh + 68);
  info->majorSubsystemVersion = host::Le16(b, oh + 48);
  info->minorSubsystemVersion = host::Le16(b, oh + 50);
  const uint32_t directories = host::Le32(b, oh + 92);
  // Data directory `index` (address, size), when the header has it: its
  // entry's file offset, or 0.
  auto directory = [&](uint32_t index, uint32_t* address, uint32_t* size) {
    if (directories <= index || optionalSize < 96 + 8 * (index + 1)) return 0u;
    *address = host::Le32(b, oh + 96 + 8 * index);
    *size = host::Le32(b, oh + 96 + 8 * index + 4);
    return oh + 96 + 8 * index;
  };
  directory(1, &info->importRva, &info->importSize);
  directory(2, &info->resourceRva, &info->resourceSize);
  info->securityEntry = directory(4, &info->securityOffset, &info->securitySize);
  directory(5, &info->relocationRva, &info->relocationSize);
  directory(13, &info->delayImportRva, &info->delayImportSize);
  info->sectionTableOffset = oh + optionalSize;
  info->headersEnd = info->sectionTableOffset + 40u * info->sectionCount;
  if (info->headersEnd > b.size()) return *error = "section table cut", false;
  for (uint32_t i = 0; i < info->sectionCount; ++i) {
    const uint32_t s = info->sectionTableOffset + 40 * i;
    Section section;
    section.name.assign(reinterpret_cast<const char*>(&b[s]), strnlen(reinterpret_cast<const char*>(&b[s]), 8));
    section.virtualSize = host::Le32(b, s + 8);
    section.virtualAddress = host::Le32(b, s + 12);
    section.rawSize = host::Le32(b, s + 16);
    section.rawPointer = host::Le32(b, s + 20);
    const uint64_t end = uint64_t(section.rawPointer) + section.rawSize;
    if (section.rawSize != 0 && end > b.size()) return *error = "sections run past the end of the file", false;
    if (section.rawSize != 0 && end > info->imageEnd) info->imageEnd = static_cast<uint32_t>(end);
    info->sections.push_back(section);
  }
  // The image ends where its headers end at the least: a SizeOfHeaders past
  // the file would make an image of made-up bytes.
  if (info->sizeOfHeaders > b.size()) {
    return *error = "SizeOfHeaders (" + std::to_string(info->sizeOfHeaders) + ") runs past the end of the file (" +
                    std::to_string(b.size()) + " bytes)", false;
  }
  if (info->imageEnd < info->sizeOfHeaders) info->imageEnd = info->sizeOfHeaders;
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
  const uint64_t pe = host::Le32(b, 60);
  if (b.size() < pe + 24) return pe + 24;
  return pe + 24 + host::Le16(b, pe + 20) + 40ull * host::Le16(b, pe + 6);
}

bool CheckProgram(host::ByteView b, uint16_t machine, std::string* problem) {
  return CheckProgram(b, b.size(), machine, problem);
}

bool CheckProgram(host::ByteView b, uint64_t size, uint16_t machine, std::string* problem) {
  // `b` is the file's start: every byte read below lies before HeadNeeded
  // (a PE header outside the file is found from the DOS header alone).
  const bool whole = b.size() >= size;
  if (!whole && b.size() < 64) throw std::logic_error("CheckProgram: the headers are not at hand");
  if (size < 64 || b[0] != 'M' || b[1] != 'Z') return *problem = "not a Windows program (no MZ header)", false;
  const uint32_t pe = host::Le32(b, 60);
  if (pe > size || size - pe < 24) return *problem = "not a Windows program (PE header outside the file)", false;
  if (!whole && b.size() < HeadNeeded(b)) throw std::logic_error("CheckProgram: the headers are not at hand");
  if (std::memcmp(&b[pe], "PE\0\0", 4) != 0) return *problem = "not a Windows program (no PE signature)", false;
  const uint16_t found = host::Le16(b, pe + 4);
  if (found != machine) {
    return *problem = "machine type " + MachineName(found) + ", where " + MachineName(machine) + " belongs", false;
  }
  const uint16_t sections = host::Le16(b, pe + 6);
  const uint16_t optionalSize = host::Le16(b, pe + 20);
  const uint32_t oh = pe + 24;
  if (optionalSize < 2 || uint64_t(oh) + optionalSize > size) return *problem = "optional header cut short", false;
  const uint16_t magic = host::Le16(b, oh);
  if (magic != (machine == kMachineAmd64 ? 0x20B : kOptionalMagicPe32)) {
    return *problem = "optional header of the wrong kind for its machine type", false;
  }
  // What Windows starts as a process: a finished executable image, no DLL,
  // for neither the kernel (native) nor the firmware (EFI).
  const uint16_t characteristics = host::Le16(b, pe + 22);
  if (!(characteristics & kExecutableImage)) {
    return *problem = "not marked as an executable image (IMAGE_FILE_EXECUTABLE_IMAGE is missing)", false;
  }
  if (characteristics & kDll) return *problem = "a DLL, not a program", false;
  const uint16_t subsystem = optionalSize >= 70 ? host::Le16(b, oh + 68) : 0;
  if (subsystem == kSubsystemNative) return *problem = "a native image (subsystem 1), not a Windows program", false;
  if (subsystem >= kSubsystemEfiApplication && subsystem <= kSubsystemEfiRom) {
    return *problem = "an EFI image (subsystem " + std::to_string(subsystem) + "), not a Windows program", false;
  }
  // Windows starts the GUI and the console subsystem as a Win32 process; not
  // an unknown one (0), POSIX (7), Windows CE (9) or any other.
  if (subsystem != kSubsystemWindowsGui && subsystem != kSubsystemWindowsConsole) {
    return *problem = "subsystem " + std::to_string(subsystem) + ", which Windows does not start as a Win32 process",
           false;
  }
  const uint64_t table = uint64_t(oh) + optionalSize;
  if (table + 40ull * sections > size) return *problem = "section table runs past the end of the file", false;
  // The loader reads the file in units of the file alignment: section data
  // may end inside the last, partly present unit, not beyond it.
  uint32_t alignment = optionalSize >= 40 ? host::Le32(b, oh + 36) : 0;
  if (alignment < 512 || (alignment & (alignment - 1)) != 0) alignment = 512;
  const uint64_t end = (size + alignment - 1) / alignment * alignment;
  for (uint32_t i = 0; i < sections; ++i) {
    const uint64_t s = table + 40ull * i;
    const uint32_t rawSize = host::Le32(b, s + 16), rawPointer = host::Le32(b, s + 20);
    if (rawSize != 0 && uint64_t(rawPointer) + rawSize > end) {
      return *problem = "section " + std::to_string(i + 1) + " runs past the end of the file (program cut short)",
             false;
    }
  }
  return true;
}

bool IsDosProgram(host::ByteView b, uint64_t size) {
  if (size < 64 || b.size() < 64 || b[0] != 'M' || b[1] != 'Z') return false;
  const uint64_t pe = host::Le32(b, 60);
  return pe + 4 > size || pe + 4 > b.size() || std::memcmp(&b[pe], "PE\0\0", 4) != 0;
}

}  // namespace pe
