// Reading the few parts of a PE image that the project looks at: the DOS
// area, the file header, the optional header and the section table, and
// whether a file is a program Windows starts (the simulated machine and the
// tools both ask). Host code only; rewriting is the tools' (tools/pe).
#ifndef HOST_PE_IMAGE_H_
#define HOST_PE_IMAGE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "host/bytes.h"

namespace pe {

struct Section {
  std::string name;
  uint32_t virtualSize, virtualAddress, rawSize, rawPointer;
};

struct ImageInfo {
  uint32_t peOffset = 0;  // e_lfanew
  uint16_t machine = 0;
  uint16_t sectionCount = 0;
  uint32_t timeDateStamp = 0;
  uint16_t characteristics = 0;
  uint16_t optionalMagic = 0;
  uint16_t subsystem = 0;
  uint16_t majorSubsystemVersion = 0, minorSubsystemVersion = 0;
  uint32_t sizeOfHeaders = 0;
  uint32_t checkSum = 0;
  uint32_t checkSumOffset = 0;
  uint32_t sectionTableOffset = 0;  // file offset
  uint32_t headersEnd = 0;          // end of the section table
  uint32_t importRva = 0, importSize = 0;
  uint32_t delayImportRva = 0, delayImportSize = 0;
  uint32_t resourceRva = 0, resourceSize = 0;
  uint32_t relocationRva = 0, relocationSize = 0;  // base relocations
  uint32_t securityOffset = 0, securitySize = 0;  // certificate table (file offset)
  uint32_t securityEntry = 0;  // file offset of its directory entry; 0 when the header has none
  std::vector<Section> sections;
  uint32_t imageEnd = 0;  // end of the last section's raw data
};

constexpr uint16_t kMachineI386 = 0x14C;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kOptionalMagicPe32 = 0x10B;
constexpr uint16_t kSubsystemNative = 1;
constexpr uint16_t kSubsystemWindowsGui = 2;
constexpr uint16_t kSubsystemWindowsConsole = 3;
constexpr uint16_t kSubsystemEfiApplication = 10;
constexpr uint16_t kSubsystemEfiRom = 13;  // 10 to 13: EFI images
constexpr uint16_t kExecutableImage = 0x0002;  // characteristics
constexpr uint16_t kDll = 0x2000;
constexpr uint16_t kLargeAddressAware = 0x20;

// Parses `image`; false with a reason in *error when it is no PE32 image.
bool Parse(host::ByteView image, ImageInfo* info, std::string* error);

// The file offset of the byte at `rva` (in the headers or in a section's
// raw data), or 0 when no part of the file holds it.
uint32_t RvaToOffset(const ImageInfo& info, uint32_t rva);

// Whether `file` is a Windows program that Windows would start on a machine
// of `machine` (kMachineI386 or kMachineAmd64): MZ and PE headers, the
// machine type, the optional header of that kind, an executable image that is
// no DLL and neither a native nor an EFI image, and a section table and
// section data that lie inside the file. False with the first reason found.
bool CheckProgram(host::ByteView file, uint16_t machine, std::string* problem);
// The same for a file of `size` bytes of which only the first are at hand in
// `head`: at least HeadNeeded(head) of them (or the whole file).
bool CheckProgram(host::ByteView head, uint64_t size, uint16_t machine, std::string* problem);
// How many bytes from the start CheckProgram reads of a file that begins
// with `head`; it grows as more of the file is known (the MZ header, then up
// to the PE header, then up to the end of the section table).
uint64_t HeadNeeded(host::ByteView head);

// Whether a file of `size` bytes that begins with `head` (at least
// HeadNeeded of them) is a DOS program: an MZ header and no PE header where
// e_lfanew points.
bool IsDosProgram(host::ByteView head, uint64_t size);

}  // namespace pe

#endif  // HOST_PE_IMAGE_H_
