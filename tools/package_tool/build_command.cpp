#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>

#include <toml++/toml.h>

#include "host/code_pages.h"
#include "host/pe_image.h"
#include "host/utf.h"
#include "launcher/package_format.h"
#include "tools/package/package_reader.h"
#include "tools/package_tool/commands.h"
#include "tools/package_tool/files.h"
#include "tools/package_tool/report.h"

namespace tool {

namespace {

// Every option of build; unset ones come from the package file, then from
// the writer's own defaults.
struct BuildSettings {
  std::optional<std::string> launcher, output, program32, program64, setupData;
  std::optional<std::string> architectureMessage, architectureMessageFile, versionMessage, versionMessageFile;
  std::optional<std::string> versions, crcReach;
  std::optional<uint32_t> elevation, lzmaPreset, dictionary, lc, lp, pb, codePage;
  std::optional<bool> notFor64Bit, detached, replace;
};

const packaging::PackageInput kDefaults;
constexpr uint32_t kDefaultCodePage = 1252;

std::string Default(uint32_t value) { return " (default " + std::to_string(value) + ")"; }

// One row per option: its name (--NAME on the command line, NAME in the
// package file), what it takes, where it goes, its help and its check. The
// command line, the package file and the merge of the two all read this.
enum class Kind {
  kPath,      // a file; in the package file relative to the file's folder
  kText,      // UTF-8 text
  kVersions,  // version names, comma-separated; in the package file also a list
  kCrcReach,  // a word or a byte count; in the package file also a number
  kNumber,    // a whole number, checked against `allowed`
  kFlag,      // on or off
};
struct OptionRow {
  const char* name;
  Kind kind;
  std::optional<std::string> BuildSettings::*text;
  std::optional<uint32_t> BuildSettings::*number;
  std::optional<bool> BuildSettings::*flag;
  std::string help;
  std::vector<uint32_t> allowed;  // numbers: {low, high}, or the only values (more than two, or `only`)
  bool only = false;              // `allowed` lists the values rather than a range
};

const std::vector<OptionRow>& Options() {
  using S = BuildSettings;
  auto text = [](const char* name, Kind kind, std::optional<std::string> S::*field, std::string help) {
    return OptionRow{name, kind, field, nullptr, nullptr, std::move(help), {}, false};
  };
  auto number = [](const char* name, std::optional<uint32_t> S::*field, std::string help,
                   std::vector<uint32_t> allowed, bool only = false) {
    return OptionRow{name, Kind::kNumber, nullptr, field, nullptr, std::move(help), std::move(allowed), only};
  };
  auto flag = [](const char* name, std::optional<bool> S::*field, std::string help) {
    return OptionRow{name, Kind::kFlag, nullptr, nullptr, field, std::move(help), {}, false};
  };
  const packaging::LzmaSettings& lzma = kDefaults.lzma;
  static const std::vector<OptionRow> rows = {
      text("launcher", Kind::kPath, &S::launcher,
           "the launcher image (default: the one installed with this tool, " + InstalledLauncherPath() + ")"),
      text("output", Kind::kPath, &S::output, "the package to write (replaced when it exists)"),
      text("program32", Kind::kPath, &S::program32, "the 32-bit setup program (an i386 Windows program)"),
      text("program64", Kind::kPath, &S::program64,
           "the 64-bit setup program (an x86-64 Windows program; with --program32 it is the one\n"
           "used on 64-bit Windows)"),
      flag("not-for-64bit", &S::notFor64Bit, "the 32-bit program must not run on 64-bit Windows"),
      text("setup-data", Kind::kPath, &S::setupData, "data for the setup program, placed right after the payloads"),
      text("architecture-message", Kind::kText, &S::architectureMessage,
           "shown when the machine's architecture does not suit (UTF-8)"),
      text("architecture-message-file", Kind::kPath, &S::architectureMessageFile, "the same from a file"),
      text("version-message", Kind::kText, &S::versionMessage,
           "shown when the Windows version is not allowed; %USER% becomes the version's name"),
      text("version-message-file", Kind::kPath, &S::versionMessageFile, "the same from a file"),
      text("versions", Kind::kVersions, &S::versions,
           "allowed versions, comma-separated: Windows 95, Windows 98, Windows ME, Windows NT 4,\n"
           "Windows 2000, Windows XP, Windows Vista, Windows 7, Windows 8, Windows 8.1,\n"
           "Windows 10 (Windows 11 reports 10.0 and is the same bit; \"Windows 11\" is accepted\n"
           "for it), later (versions after 10, such as 11.0); default: all of them. The launcher\n"
           "never allows 6.4 to 9.x."),
      number("elevation", &S::elevation,
             "with /silent or /s on Vista and later without administrator rights: 0 plain,\n"
             "1 elevated (runas), 2 with /noadmin" + Default(kDefaults.elevationMode),
             {launcher::kElevationPlain, launcher::kElevationNoAdmin}),
      flag("detached", &S::detached,
           "the launcher neither waits for the setup program nor deletes its temporary copy"),
      text("crc-reach", Kind::kCrcReach, &S::crcReach,
           "payloads (header and payloads, default), whole, or a byte count from the header on"),
      number("lzma-preset", &S::lzmaPreset, "compression preset" + Default(lzma.preset), {0, 9}),
      number("dictionary", &S::dictionary, "LZMA dictionary size in bytes" + Default(lzma.dictionarySize),
             {4096u, 1u << 30}),
      number("lc", &S::lc, "LZMA literal context bits" + Default(lzma.lc) + "; lc + lp <= 4", {0, 4}),
      number("lp", &S::lp, "LZMA literal position bits" + Default(lzma.lp), {0, 4}),
      number("pb", &S::pb, "LZMA position bits" + Default(lzma.pb), {0, 4}),
      number("codepage", &S::codePage,
             "the code page the messages are checked against" + Default(kDefaultCodePage), {1252, 932}, true),
      flag("replace", &S::replace, "accept an image that already carries a package and replace it"),
  };
  return rows;
}

// The one check of a number option: "" when `value` is allowed, otherwise
// what is.
std::string CheckNumber(const OptionRow& row, uint64_t value) {
  if (row.only) {
    std::string values;
    for (uint32_t v : row.allowed) {
      if (value == v) return "";
      values += (values.empty() ? "" : " or ") + std::to_string(v);
    }
    return "takes " + values;
  }
  if (value >= row.allowed[0] && value <= row.allowed[1]) return "";
  return "takes a whole number from " + std::to_string(row.allowed[0]) + " to " + std::to_string(row.allowed[1]);
}

// Takes each field of `fallback` that `settings` lacks.
void Merge(BuildSettings* settings, const BuildSettings& fallback) {
  for (const OptionRow& row : Options()) {
    if (row.text && !(settings->*row.text)) settings->*row.text = fallback.*row.text;
    if (row.number && !(settings->*row.number)) settings->*row.number = fallback.*row.number;
    if (row.flag && !(settings->*row.flag)) settings->*row.flag = fallback.*row.flag;
  }
}

// Reads the package file. Paths in it are relative to its own folder; values
// get the same checks as on the command line. Returns kExitFine, or
// kExitInputOutput / kExitUsage with a message that names the file, and for
// a bad key the key and its line.
int ReadPackageFile(const std::string& path, BuildSettings* out, std::string* error) {
  packaging::Bytes bytes;
  if (!ReadInputFile(path, &bytes, error)) return kExitInputOutput;
  toml::table table;
  try {
    table = toml::parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), path);
  } catch (const toml::parse_error& e) {
    std::ostringstream s;
    s << path << ":" << e.source().begin.line << ": " << e.description();
    *error = s.str();
    return kExitUsage;
  }
  const std::string base = FolderOf(path);
  for (auto& entry : table) {
    const std::string key(entry.first.str());
    const toml::node& node = entry.second;
    const std::string where = path + ":" + std::to_string(node.source().begin.line) + ": " + Escaped(key) + ": ";
    const OptionRow* row = nullptr;
    for (const OptionRow& r : Options()) {
      if (key == r.name) row = &r;
    }
    if (row == nullptr) return *error = where + "unknown key", kExitUsage;
    std::string value;
    switch (row->kind) {
      case Kind::kFlag:
        if (!node.is_boolean()) return *error = where + "takes true or false", kExitUsage;
        out->*row->flag = *node.value<bool>();
        continue;
      case Kind::kNumber: {
        if (!node.is_integer()) return *error = where + "takes a whole number", kExitUsage;
        const int64_t v = *node.value<int64_t>();
        const std::string why = v < 0 ? CheckNumber(*row, ~uint64_t(0)) : CheckNumber(*row, uint64_t(v));
        if (!why.empty()) return *error = where + why, kExitUsage;
        out->*row->number = static_cast<uint32_t>(v);
        continue;
      }
      case Kind::kVersions:
        if (const toml::array* list = node.as_array()) {
          for (const toml::node& item : *list) {
            if (!item.is_string()) return *error = where + "takes a list of version names", kExitUsage;
            value += (value.empty() ? "" : ",") + *item.value<std::string>();
          }
          out->*row->text = value;
          continue;
        }
        break;
      case Kind::kCrcReach:
        if (node.is_integer()) {
          out->*row->text = std::to_string(*node.value<int64_t>());
          continue;
        }
        break;
      default:
        break;
    }
    if (!node.is_string()) return *error = where + "takes a text", kExitUsage;
    value = *node.value<std::string>();
    if (row->kind == Kind::kPath && !value.empty() && value[0] != '/') value = base + "/" + value;
    out->*row->text = value;
  }
  return kExitFine;
}

bool ParseVersions(const std::string& list, uint64_t* set, std::string* unknown) {
  *set = 0;
  std::stringstream in(list);
  std::string name;
  while (std::getline(in, name, ',')) {
    while (!name.empty() && name.front() == ' ') name.erase(name.begin());
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (name.empty()) continue;
    const int bit = packaging::VersionBit(name);
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
  for (const OptionRow& row : Options()) {
    const std::string name = std::string("--") + row.name;
    if (row.flag) {
      sub->add_flag(name, st->cli.*row.flag, row.help);
    } else if (row.number) {
      sub->add_option(name, st->cli.*row.number, row.help)
          ->check(CLI::Validator(
              [&row](std::string& input) {
                const bool digits = !input.empty() && input.size() <= 10 &&
                                    input.find_first_not_of("0123456789") == std::string::npos;
                return CheckNumber(row, digits ? std::stoull(input) : ~uint64_t(0));
              },
              ""));
    } else {
      sub->add_option(name, st->cli.*row.text, row.help);
    }
  }
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
    if (largest > (size_t(1) << 30)) {
      warn("a setup program of " + std::to_string(largest >> 20) + " MiB: the launcher holds it in one block of " +
           "memory, which a 32-bit process does not get everywhere (runtime error 203; verify shows where)");
    }
    if (ShowsProgress(common) && largest > (size_t(4) << 20)) {
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
    if (package.locator.crcLength < package.payloadAreaEnd - package.locator.headerOffset) {
      warn("--crc-reach " + reach + " leaves part of the header and payloads outside the CRC: damage there is found "
           "only when decoding fails, or not at all");
    }
    // A signature of the launcher (or of a replaced package) does not cover
    // the new file: its entry goes, and the checksum is made anew.
    pe::ClearSignatureAndChecksum(&package.bytes);
    if (!WriteOutputFile(*s.output, package.bytes, Existing::kReplace, &error)) return Fail(kExitInputOutput, error);
    if (st->json) {
      nlohmann::ordered_json j;
      j["command"] = "build";
      j["output"] = *s.output;
      j["size"] = package.bytes.size();
      j["headerOffset"] = package.locator.headerOffset;
      j["crcLength"] = package.locator.crcLength;
      j["setupData"] = {{"start", package.setupDataOffset},
                        {"end", package.setupDataOffset + input.setupData.size()}};
      j["warnings"] = warnings;
      PrintJson(j);
    } else if (!common.quiet) {
      std::printf("%s: %zu bytes (header at %u, CRC over %u bytes)\n", Escaped(*s.output).c_str(), package.bytes.size(),
                  package.locator.headerOffset, package.locator.crcLength);
    }
    return kExitFine;
  };
}

}  // namespace tool
