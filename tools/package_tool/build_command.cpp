#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>

#include "host/code_pages.h"
#include "host/pe_image.h"
#include "host/utf.h"
#include "launcher/package_format.h"
#include "tools/package/package_reader.h"
#include "tools/package_tool/build_options.h"
#include "tools/package_tool/commands.h"
#include "tools/package_tool/input_files.h"
#include "tools/package_tool/output_files.h"
#include "tools/package_tool/tool_paths.h"
#include "tools/package_tool/report.h"
#include "tools/package_tool/signing.h"
#include "tools/pe/branding.h"

namespace tool {

namespace {

// A program the launcher holds in one block of memory that a 32-bit
// process does not get everywhere.
constexpr size_t kLargeProgram = size_t(1) << 30;
// Programs from this size on show progress while they compress.
constexpr size_t kProgressFrom = size_t(4) << 20;

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
                       " lacks: users with that code page see \"" + Escaped(host::Utf16ToValidUtf8(back)) + "\"");
  }
  return warnings;
}

}  // namespace

Runner AddBuild(CLI::App& app, const Common& common) {
  struct State {
    BuildSettings cli;
    std::string config;
    bool json = false;
  };
  auto st = std::make_shared<State>();
  CLI::App* sub = app.add_subcommand(
      "build",
      "Makes a package: the launcher image followed by the package (header, the LZMA-compressed\n"
      "setup programs, setup data, messages). Options may also come from a package file\n"
      "(--config, TOML, keys named as the options without the dashes, paths relative to the\n"
      "file); options given here override it. The output appears whole or not at all.");
  sub->add_option("--config", st->config, "a package file (TOML) holding any of the options below");
  AddBuildOptions(sub, &st->cli);
  sub->add_flag("--json", st->json, "print the result as JSON (with a schemaVersion)");
  return [st, &common]() {
    BuildSettings s = st->cli;
    std::string error;
    if (!st->config.empty()) {
      BuildSettings fromFile;
      const int status = ReadPackageFile(st->config, &fromFile, &error);
      if (status != kExitFine) return Fail(status, error);
      Merge(&s, fromFile);
    }
    if (!s.launcher) s.launcher = InstalledLauncher();
    if (!s.launcher) {
      return Fail(kExitUsage, "build: --launcher is required (no launcher is installed beside this tool, in " +
                                  InstalledLauncherPath() + ")");
    }
    if (!s.output) return Fail(kExitUsage, "build: --output is required");
    if (!s.program32 && !s.program64) return Fail(kExitUsage, "build: give --program32, --program64 or both");
    // The output never overwrites one of the inputs.
    for (const OptionRow& row : Options()) {
      if (row.kind == Kind::kPath && row.text != &BuildSettings::output && s.*row.text &&
          SameFile(*s.output, *(s.*row.text))) {
        return Fail(kExitUsage, "--output " + Escaped(*s.output) + " is the file given as --" + row.name);
      }
    }
    if (!st->config.empty() && SameFile(*s.output, st->config)) {
      return Fail(kExitUsage, "--output " + Escaped(*s.output) + " is the package file given as --config");
    }
    packaging::PackageInput input;
    // The messages first: a wrong one is found before big inputs are read.
    int status = kExitFine;
    if (!ReadMessage(s.architectureMessage, s.architectureMessageFile, "--architecture-message",
                     &input.architectureMessage, &status, &error) ||
        !ReadMessage(s.versionMessage, s.versionMessageFile, "--version-message", &input.versionMessage, &status,
                     &error)) {
      return Fail(status, error);
    }
    pe::Branding branding;
    if ((status = ReadBranding(s, &branding, &error)) != kExitFine) return Fail(status, error);
    if (!ReadInputFile(*s.launcher, &input.image, &error)) return Fail(kExitInputOutput, error);
    for (const auto& [path, slot, machine] :
         {std::make_tuple(s.program32, &input.program32, pe::kMachineI386),
          std::make_tuple(s.program64, &input.program64, pe::kMachineAmd64)}) {
      if (!path) continue;
      struct stat info;
      if (::stat(path->c_str(), &info) == 0 && S_ISREG(info.st_mode) && uint64_t(info.st_size) >= launcher::kLimit) {
        return Fail(kExitProblems, *path + ": setup programs must be smaller than 2 GiB");
      }
      packaging::Bytes program;
      if (!ReadInputFile(*path, &program, &error)) return Fail(kExitInputOutput, error);
      std::string problem;
      if (!pe::CheckProgram(program, machine, &problem)) {
        return Fail(kExitProblems, *path + ": " + problem + " (" +
                                       (machine == pe::kMachineI386 ? "--program32" : "--program64") +
                                       " takes a " + (machine == pe::kMachineI386 ? "32-bit" : "64-bit") +
                                       " Windows program)");
      }
      *slot = std::move(program);
    }
    if (s.setupData && !ReadInputFile(*s.setupData, &input.setupData, &error)) return Fail(kExitInputOutput, error);
    if (s.versions) {
      std::string unknown;
      if (!ParseVersions(*s.versions, &input.allowedVersions, &unknown)) {
        return Fail(kExitUsage, "--versions: unknown version name '" + Escaped(unknown) + "' (see build --help)");
      }
    }
    if (s.elevation) input.elevationMode = static_cast<uint8_t>(*s.elevation);
    if (s.detached) input.detached = *s.detached;
    if (s.notFor64Bit) input.notFor64BitWindows = *s.notFor64Bit;
    if (input.notFor64BitWindows && (!input.program32 || input.program64)) {
      return Fail(kExitUsage, "--not-for-64bit goes with --program32 alone");
    }
    const std::string reach = s.crcReach.value_or("payloads");
    if (reach == "payloads") {
      input.crcReach = packaging::CrcReach::kHeaderAndPayloads;
    } else if (reach == "whole") {
      input.crcReach = packaging::CrcReach::kWholePackage;
    } else if (!reach.empty() && reach.size() <= 10 && reach.find_first_not_of("0123456789") == std::string::npos &&
               std::stoull(reach) < launcher::kLimit) {
      input.crcReach = packaging::CrcReach::kByteCount;
      input.crcByteCount = static_cast<uint32_t>(std::stoull(reach));
    } else {
      return Fail(kExitUsage, "--crc-reach takes payloads, whole or a byte count below 2 GiB");
    }
    if (s.lzmaPreset) input.lzma.preset = *s.lzmaPreset;
    if (s.dictionary) input.lzma.dictionarySize = *s.dictionary;
    if (s.lc) input.lzma.lc = *s.lc;
    if (s.lp) input.lzma.lp = *s.lp;
    if (s.pb) input.lzma.pb = *s.pb;
    if (input.lzma.lc + input.lzma.lp > 4) return Fail(kExitUsage, "--lc plus --lp must be at most 4 (liblzma decodes nothing else)");
    if (!PrepareImage(&input.image, s.replace.value_or(false), *s.launcher, &error)) return Fail(kExitProblems, error);
    bool tooLong = false;
    if (!pe::Brand(&input.image, branding, &error, &tooLong)) {
      if (tooLong) return Fail(kExitUsage, TooLongForVersionBlock(s));
      return Fail(kExitProblems, *s.launcher + ": its resources cannot be rewritten (" + error + ")");
    }

    // What the package's users would meet that the author may not mean.
    const uint32_t codePage = s.codePage.value_or(kDefaultCodePage);
    std::vector<std::string> warnings;
    auto warn = [&](const std::string& w) {
      warnings.push_back(w);
      Warn(common, w);
    };
    if (input.allowedVersions == 0) warn("no Windows version is allowed: the package runs nowhere");
    if ((input.allowedVersions & launcher::kAllVersions) != launcher::kAllVersions && input.versionMessage.empty()) {
      warn("some Windows versions are refused but there is no --version-message: their users see an empty box");
    }
    const bool refusesAnArchitecture = !input.program32 || input.notFor64BitWindows;
    if (refusesAnArchitecture && input.architectureMessage.empty()) {
      warn(std::string(!input.program32 ? "32-bit" : "64-bit") +
           " Windows is refused but there is no --architecture-message: its users see an empty box");
    }
    for (const std::string& w : CheckMessage(input.architectureMessage, codePage, "the architecture message")) warn(w);
    for (const std::string& w : CheckMessage(input.versionMessage, codePage, "the version message")) warn(w);

    const size_t largest = std::max(input.program32 ? input.program32->size() : 0,
                                    input.program64 ? input.program64->size() : 0);
    // The launcher holds the decoded program in one block of memory.
    if (largest > kLargeProgram) {
      warn("a setup program of " + std::to_string(largest >> 20) + " MiB: the launcher holds it in one block of " +
           "memory, which a 32-bit process does not get everywhere (runtime error 203; verify shows where)");
    }
    if (ShowsProgress(common) && largest > kProgressFrom) {
      input.lzma.progress = [](uint64_t done, uint64_t total) {
        std::fprintf(stderr, "\rcompressing: %3u%% of %llu MiB", static_cast<unsigned>(done * 100 / total),
                     static_cast<unsigned long long>(total >> 20));
        if (done == total) std::fputc('\n', stderr);
      };
    }
    packaging::BuiltPackage package;
    if (!packaging::BuildPackage(input, &package, &error)) return Fail(kExitProblems, *s.output + ": " + error);
    if (input.crcReach == packaging::CrcReach::kByteCount &&
        uint64_t(package.locator.headerOffset) + input.crcByteCount > package.bytes.size()) {
      return Fail(kExitUsage, "--crc-reach " + reach + " reaches past the end of the package (" +
                                  std::to_string(package.bytes.size() - package.locator.headerOffset) +
                                  " bytes from the header on)");
    }
    if (package.locator.crcLength > kLargeProgram) {
      warn("a CRC region of " + std::to_string(package.locator.crcLength >> 20) + " MiB: the launcher reads it in " +
           "one block of memory, which a 32-bit process does not get everywhere (runtime error 203; verify shows "
           "where)");
    }
    if (package.locator.crcLength < package.payloadAreaEnd - package.locator.headerOffset) {
      warn("--crc-reach " + reach + " leaves part of the header and payloads outside the CRC: damage there is found "
           "only when decoding fails, or not at all");
    }
    // A signature of the launcher (or of a replaced package) does not cover
    // the new file: its entry goes, and the checksum is made anew.
    pe::ClearSignatureAndChecksum(&package.bytes);
    uint64_t written = package.bytes.size();
    if (s.signCommand) {
      if ((status = WriteSignedPackage(*s.output, package.bytes, *s.signCommand, common, &written, &error)) !=
          kExitFine) {
        return Fail(status, error);
      }
    } else if (!WriteOutputFile(*s.output, package.bytes, Existing::kReplace, &error)) {
      return Fail(kExitInputOutput, error);
    }
    if (st->json) {
      nlohmann::ordered_json j;
      j["command"] = "build";
      j["output"] = *s.output;
      j["size"] = written;
      j["headerOffset"] = package.locator.headerOffset;
      j["crcLength"] = package.locator.crcLength;
      j["setupData"] = {{"start", package.setupDataOffset},
                        {"end", package.setupDataOffset + input.setupData.size()}};
      j["warnings"] = warnings;
      PrintJson(j);
    } else if (!common.quiet) {
      std::printf("%s: %llu bytes (header at %u, CRC over %u bytes)\n", Escaped(*s.output).c_str(),
                  static_cast<unsigned long long>(written),
                  package.locator.headerOffset, package.locator.crcLength);
    }
    return kExitFine;
  };
}

}  // namespace tool
