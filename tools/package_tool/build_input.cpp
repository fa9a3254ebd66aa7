// build's inputs read and checked, and what the author is warned of.
#include "tools/package_tool/build_input.h"

#include <algorithm>
#include <thread>

#include <algorithm>
#include <optional>
#include <sstream>
#include <tuple>

#include "host/code_pages.h"
#include "host/pe_image.h"
#include "host/utf.h"
#include "launcher/package_format.h"
#include "tools/packaging/program_head.h"
#include "tools/package_tool/branding_options.h"
#include "tools/package_tool/commands.h"
#include "tools/package_tool/input_files.h"
#include "tools/package_tool/package_words.h"
#include "tools/package_tool/report.h"
#include "tools/pe/branding.h"

namespace tool {

namespace {

bool ParseVersions(const std::string& list, uint64_t* set, std::string* unknown) {
  *set = 0;
  std::stringstream in(list);
  std::string name;
  while (std::getline(in, name, ',')) {
    while (!name.empty() && name.front() == ' ') name.erase(name.begin());
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (name.empty()) continue;
    const int bit = launcher::VersionBitOf(name.c_str());
    if (bit < 0) return *unknown = name, false;
    *set |= uint64_t(1) << bit;
  }
  return true;
}

// Refuses images that cannot take a package. With `replace`, an image that
// already carries one is cut back to its last section.
bool PrepareImage(packaging::Bytes* image, bool replace, const std::string& path, std::string* error) {
  pe::ImageInfo info;
  std::string why;
  if (!pe::Parse(*image, &info, &why)) return *error = path + ": not a PE32 launcher image (" + why + ")", false;
  if (!pe::CheckProgram(*image, pe::kMachineI386, &why)) return *error = path + ": " + why, false;
  if (info.peOffset < launcher::kLocatorRoomEnd) {
    return *error = path + ": no room for the package locator at offsets 128..255 (PE header at " +
                    std::to_string(info.peOffset) + ")", false;
  }
  bool room = true;
  for (uint32_t i = launcher::kLocatorOffset; i < launcher::kLocatorRoomEnd; ++i) room = room && (*image)[i] == 0;
  const bool carries = !room || info.imageEnd < image->size();
  if (carries && !replace) {
    return *error = path + ": the image already carries a package or other data after its last section "
                           "(use --replace to replace it)", false;
  }
  image->resize(info.imageEnd);
  std::fill(image->begin() + launcher::kLocatorOffset, image->begin() + launcher::kLocatorRoomEnd, 0);
  return true;
}

// Message text: UTF-8, from the option or from a file (a BOM and trailing
// line ends dropped).
bool ReadMessage(const std::optional<std::string>& text, const std::optional<std::string>& file, const char* option,
                 std::u16string* out, int* status, std::string* error) {
  std::string s;
  if (file) {
    packaging::Bytes bytes;
    if (!ReadInputFile(*file, &bytes, error)) return *status = kExitInputOutput, false;
    s.assign(bytes.begin(), bytes.end());
    if (s.size() >= 3 && s.compare(0, 3, "\xEF\xBB\xBF") == 0) s.erase(0, 3);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  } else if (text) {
    s = *text;
  }
  if (!host::Utf8ToUtf16(s, out)) {
    *error = std::string(option) + ": the text is not UTF-8";
    return *status = kExitUsage, false;
  }
  if (out->size() > 0xFFFF) {
    *error = std::string(option) + ": " + std::to_string(out->size()) +
             " UTF-16 units, more than the 65535 a package message holds";
    return *status = kExitUsage, false;
  }
  return true;
}

// Warnings about a message: control characters, and characters the code
// page lacks (which the box shows otherwise).
std::vector<std::string> CheckMessage(const std::u16string& text, uint32_t codePage, const char* which) {
  std::vector<std::string> warnings;
  if (text.empty()) return warnings;
  for (char16_t c : text) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      warnings.push_back(std::string(which) + " holds control characters (the box shows them as they are)");
      break;
    }
  }
  const std::u16string back = host::AnsiToWide(codePage, host::WideToAnsi(codePage, text));
  if (back != text) {
    warnings.push_back(std::string(which) + " holds characters that code page " + std::to_string(codePage) +
                       " lacks: users with that code page see \"" + Escaped(host::Utf16ToWtf8(back)) + "\"");
  }
  return warnings;
}

// The programs, each checked against its slot; they are read as the
// package is written.
int OpenPrograms(const BuildSettings& s, packaging::PackageParts* parts, std::string* error) {
  for (const auto& [path, slot, machine] :
       {std::make_tuple(s.program32, &parts->program32, pe::kMachineI386),
        std::make_tuple(s.program64, &parts->program64, pe::kMachineAmd64)}) {
    if (!path) continue;
    packaging::PieceSource program;
    if (!OpenPieceSource(*path, &program, error)) return kExitInputOutput;
    if (program.size >= launcher::kLimit) return *error = *path + ": setup programs must be smaller than 2 GiB", kExitProblems;
    // As much of its start as the check reads.
    packaging::ProgramHead head;
    if (!head.Read(program, error)) return kExitInputOutput;
    std::string problem;
    if (!pe::CheckProgram(head.View(), program.size, machine, &problem)) {
      const bool is32 = machine == pe::kMachineI386;
      return *error = *path + ": " + problem + " (" + (is32 ? "--program32" : "--program64") + " takes a " +
                      (is32 ? "32-bit" : "64-bit") + " Windows program)",
             kExitProblems;
    }
    *slot = std::move(program);
  }
  return kExitFine;
}

// "payloads", "whole" or a byte count below 2 GiB.
bool ParseCrcReach(const std::string& reach, packaging::PackageSettings* input) {
  if (reach == "payloads") {
    input->crcReach = packaging::CrcReach::kHeaderAndPayloads;
  } else if (reach == "whole") {
    input->crcReach = packaging::CrcReach::kWholePackage;
  } else if (!reach.empty() && reach.size() <= 10 && reach.find_first_not_of("0123456789") == std::string::npos &&
             std::stoull(reach) < launcher::kLimit) {
    input->crcReach = packaging::CrcReach::kByteCount;
    input->crcByteCount = static_cast<uint32_t>(std::stoull(reach));
  } else {
    return false;
  }
  return true;
}

}  // namespace

int ReadBuildInput(const BuildSettings& s, packaging::PackageSettings* input, packaging::PackageParts* parts,
                   std::string* error) {
  // The messages first: a wrong one is found before big inputs are read.
  int status = kExitFine;
  if (!ReadMessage(s.architectureMessage, s.architectureMessageFile, "--architecture-message",
                   &input->architectureMessage, &status, error) ||
      !ReadMessage(s.versionMessage, s.versionMessageFile, "--version-message", &input->versionMessage, &status,
                   error)) {
    return status;
  }
  pe::Branding branding;
  if ((status = ReadBranding(s, &branding, error)) != kExitFine) return status;
  if (!ReadInputFile(*s.launcher, &input->image, error)) return kExitInputOutput;
  if ((status = OpenPrograms(s, parts, error)) != kExitFine) return status;
  if (s.setupData && !OpenPieceSource(*s.setupData, &parts->setupData, error)) return kExitInputOutput;
  if (s.versions) {
    std::string unknown;
    if (!ParseVersions(*s.versions, &input->allowedVersions, &unknown)) {
      return *error = "--versions: unknown version name '" + Escaped(unknown) + "' (see build --help)", kExitUsage;
    }
  }
  if (s.elevation) input->elevationMode = static_cast<uint8_t>(*s.elevation);
  if (s.detached) input->detached = *s.detached;
  if (s.notFor64Bit) input->notFor64BitWindows = *s.notFor64Bit;
  if (input->notFor64BitWindows && (!parts->program32 || parts->program64)) {
    return *error = "--not-for-64bit goes with --program32 alone", kExitUsage;
  }
  if (!ParseCrcReach(s.crcReach.value_or("payloads"), input)) {
    return *error = "--crc-reach takes payloads, whole or a byte count below 2 GiB", kExitUsage;
  }
  input->threads = s.threads.value_or(std::max(1u, std::thread::hardware_concurrency()));
  if (s.lzmaPreset) input->lzma.preset = *s.lzmaPreset;
  if (s.dictionary) input->lzma.dictionarySize = *s.dictionary;
  if (s.lc) input->lzma.lc = *s.lc;
  if (s.lp) input->lzma.lp = *s.lp;
  if (s.pb) input->lzma.pb = *s.pb;
  if (input->lzma.lc + input->lzma.lp > 4) {
    return *error = "--lc plus --lp must be at most 4 (liblzma decodes nothing else)", kExitUsage;
  }
  if (!PrepareImage(&input->image, s.replace.value_or(false), *s.launcher, error)) return kExitProblems;
  bool tooLong = false;
  if (!pe::Brand(&input->image, branding, error, &tooLong)) {
    if (tooLong) return *error = TooLongForVersionBlock(s), kExitUsage;
    return *error = *s.launcher + ": its resources cannot be rewritten (" + *error + ")", kExitProblems;
  }
  return kExitFine;
}

std::vector<std::string> InputWarnings(const packaging::PackageSettings& input, const packaging::PackageParts& parts,
                                       uint32_t codePage) {
  std::vector<std::string> w;
  if (input.allowedVersions == 0) w.push_back("no Windows version is allowed: the package runs nowhere");
  if ((input.allowedVersions & launcher::kAllVersions) != launcher::kAllVersions && input.versionMessage.empty()) {
    w.push_back("some Windows versions are refused but there is no --version-message: their users see an empty box");
  }
  const bool refusesAnArchitecture = !parts.program32 || input.notFor64BitWindows;
  if (refusesAnArchitecture && input.architectureMessage.empty()) {
    w.push_back(std::string(!parts.program32 ? "32-bit" : "64-bit") +
                " Windows is refused but there is no --architecture-message: its users see an empty box");
  }
  for (const std::string& m : CheckMessage(input.architectureMessage, codePage, "the architecture message")) {
    w.push_back(m);
  }
  for (const std::string& m : CheckMessage(input.versionMessage, codePage, "the version message")) w.push_back(m);
  // The launcher holds the decoded program in one block of memory.
  const uint64_t largest = LargestProgram(parts);
  if (largest > packaging::kBlockEveryProcessGets) {
    w.push_back("a setup program of " + std::to_string(largest >> 20) + " MiB: the launcher holds it in one block " +
                "of memory, which a 32-bit process does not get everywhere (runtime error 203; verify shows where)");
  }
  return w;
}

uint64_t LargestProgram(const packaging::PackageParts& parts) {
  return std::max(parts.program32 ? parts.program32->size : 0, parts.program64 ? parts.program64->size : 0);
}

std::vector<std::string> BuiltPackageWarnings(const packaging::PackageLayout& package, const std::string& crcReach) {
  std::vector<std::string> w;
  if (package.locator.crcLength > packaging::kBlockEveryProcessGets) {
    w.push_back("a CRC region of " + std::to_string(package.locator.crcLength >> 20) + " MiB: the launcher reads " +
                "it in one block of memory, which a 32-bit process does not get everywhere (runtime error 203; " +
                "verify shows where)");
  }
  if (package.locator.crcLength < package.payloadEnd - package.locator.headerOffset) {
    w.push_back("--crc-reach " + crcReach + kCrcLeavesOut);
  }
  return w;
}

}  // namespace tool
