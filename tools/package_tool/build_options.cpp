// The table of build's options, for the command line and the package file.
#include "tools/package_tool/build_options.h"

#include <iterator>

#include "host/code_pages.h"
#include "host/system/files.h"
#include "host/utf.h"
#include "host/system/process.h"
#include "launcher/package_format.h"
#include "tools/packaging/package_writer.h"
#include "tools/package_tool/commands.h"
#include "tools/package_tool/input_files.h"
#include "tools/package_tool/tool_paths.h"
#include "tools/package_tool/report.h"

namespace tool {

namespace {

const packaging::PackageSettings kDefaults;

std::string Default(uint32_t value) { return " (default " + std::to_string(value) + ")"; }

// The version names as build's help lists them.
std::string VersionNamesHelp() {
  std::string names;
  for (const launcher::VersionRowSpec& row : launcher::kVersionRows) names += (names.empty() ? "" : ", ") + std::string(row.name);
  for (const auto& [bit, name] : launcher::kVersionAliases) {
    names += std::string(" (\"") + name + "\" is accepted for " + launcher::VersionName(bit) + ")";
  }
  return names;
}

}  // namespace

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


const std::vector<OptionRow>& Options() {
  using S = BuildSettings;
  auto text = [](const char* name, OptionKind kind, std::optional<std::string> S::*field, std::string help) {
    return OptionRow{name, kind, field, nullptr, nullptr, std::move(help), {}, false};
  };
  auto number = [](const char* name, std::optional<uint32_t> S::*field, std::string help,
                   std::vector<uint32_t> allowed, bool only = false) {
    return OptionRow{name, OptionKind::kNumber, nullptr, field, nullptr, std::move(help), std::move(allowed), only};
  };
  auto flag = [](const char* name, std::optional<bool> S::*field, std::string help) {
    return OptionRow{name, OptionKind::kFlag, nullptr, nullptr, field, std::move(help), {}, false};
  };
  const packaging::LzmaSettings& lzma = kDefaults.lzma;
  static const std::vector<OptionRow> rows = {
      text("launcher", OptionKind::kPath, &S::launcher,
           std::string("the launcher image (default: the one installed with this tool, ") + sys::kInstalledLauncherWords + ")"),
      text("output", OptionKind::kPath, &S::output, "REQUIRED: the package to write (replaced when it exists)"),
      text("program32", OptionKind::kPath, &S::program32,
           "REQUIRED (this, --program64 or both): the 32-bit setup program (an i386 Windows program)"),
      text("program64", OptionKind::kPath, &S::program64,
           "REQUIRED (this, --program32 or both): the 64-bit setup program (an x86-64 Windows\n"
           "program; with --program32 it is the one used on 64-bit Windows)"),
      flag("not-for-64bit", &S::notFor64Bit, "the 32-bit program must not run on 64-bit Windows"),
      text("setup-data", OptionKind::kPath, &S::setupData, "data for the setup program, placed right after the payloads"),
      text("architecture-message", OptionKind::kText, &S::architectureMessage,
           "shown when the machine's architecture does not suit (UTF-8)"),
      text("architecture-message-file", OptionKind::kPath, &S::architectureMessageFile, "the same from a file"),
      text("version-message", OptionKind::kText, &S::versionMessage,
           "shown when the Windows version is not allowed; %USER% becomes the version's name"),
      text("version-message-file", OptionKind::kPath, &S::versionMessageFile, "the same from a file"),
      text("versions", OptionKind::kVersions, &S::versions,
           "allowed versions, comma-separated: " + VersionNamesHelp() +
               "; default: all of them. \"later\"\n"
               "covers versions after 10, such as 11.0; the launcher never allows 6.4 to 9.x."),
      number("elevation", &S::elevation,
             "with /silent or /s on Vista and later without administrator rights: 0 plain,\n"
             "1 elevated (runas), 2 with /noadmin" + Default(kDefaults.elevationMode),
             {launcher::kElevationPlain, launcher::kElevationNoAdmin}),
      flag("detached", &S::detached,
           "the launcher neither waits for the setup program nor deletes its temporary copy"),
      text("crc-reach", OptionKind::kCrcReach, &S::crcReach,
           "payloads (header and payloads, default), whole, or a byte count from the header on"),
      number("lzma-preset", &S::lzmaPreset, "compression preset" + Default(lzma.preset), {0, 9}),
      number("dictionary", &S::dictionary, "LZMA dictionary size in bytes" + Default(lzma.dictionarySize),
             {4096u, 1u << 30}),
      number("threads", &S::threads,
             "with two programs, compress both at once on up to N threads (default: the number of cores);\n"
             "the package's bytes are the same. The second encoder takes as much memory again as the\n"
             "first: about 11 times the dictionary size (47 MiB with the defaults)", {1, 64}),
      number("lc", &S::lc, "LZMA literal context bits" + Default(lzma.lc) + "; lc + lp <= 4", {0, 4}),
      number("lp", &S::lp, "LZMA literal position bits" + Default(lzma.lp), {0, 4}),
      number("pb", &S::pb, "LZMA position bits" + Default(lzma.pb), {0, 4}),
      number("codepage", &S::codePage,
             "the code page the messages are checked against" + Default(host::kDefaultCodePage), host::CodePages(),
             true),
      flag("replace", &S::replace, "accept an image that already carries a package and replace it"),
      text("company", OptionKind::kText, &S::company, "the company name in the package's file properties"),
      text("product", OptionKind::kText, &S::product, "the product name in the package's file properties"),
      text("description", OptionKind::kText, &S::description, "the file description in the package's file properties"),
      text("copyright", OptionKind::kText, &S::copyright, "the copyright line in the package's file properties"),
      text("product-version", OptionKind::kText, &S::productVersion,
           "the product version, A.B.C.D (one to four numbers of 0..65535; missing ones are 0)"),
      text("file-version", OptionKind::kText, &S::fileVersion, "the file version, A.B.C.D (default: the product version)"),
      text("icon", OptionKind::kPath, &S::icon,
           "an .ico file whose images become the package's icon (default: the launcher's own);\n"
           "the options not given keep the launcher image's values"),
      text("sign-command", OptionKind::kText, &S::signCommand,
           "a command that signs the package, run by /bin/sh (cmd.exe on Windows): {in} becomes the\n"
           "unsigned package, {out} where the signed one must appear (both quoted); the output\n"
           "appears only signed. An empty one switches off a package file's"),
      flag("sign-programs", &S::signPrograms,
           "sign each setup program with --sign-command too, before it is compressed ({in} a copy\n"
           "of the program, {out} the signed one; the author's files are not changed): the\n"
           "temporary copy the launcher runs, and Windows asks to elevate, is then signed"),
  };
  return rows;
}

// Takes each field of `fallback` that `settings` lacks.
void Merge(BuildSettings* settings, const BuildSettings& fallback) {
  for (const OptionRow& row : Options()) {
    if (row.text && !(settings->*row.text)) settings->*row.text = fallback.*row.text;
    if (row.number && !(settings->*row.number)) settings->*row.number = fallback.*row.number;
    if (row.flag && !(settings->*row.flag)) settings->*row.flag = fallback.*row.flag;
  }
}

void AddBuildOptions(CLI::App* command, BuildSettings* settings) {
  for (const OptionRow& row : Options()) {
    const std::string name = std::string("--") + row.name;
    if (row.flag) {
      // Set only when given (--NAME, or --NAME=false), so that an unset flag
      // leaves the package file's value.
      command->add_flag_function(
          name, [settings, &row](std::int64_t count) { settings->*row.flag = count > 0; }, row.help);
    } else if (row.number) {
      command->add_option(name, settings->*row.number, row.help)
          ->check(CLI::Validator(
              [&row](std::string& input) {
                const bool digits = !input.empty() && input.size() <= 10 &&
                                    input.find_first_not_of("0123456789") == std::string::npos;
                return CheckNumber(row, digits ? std::stoull(input) : ~uint64_t(0));
              },
              ""));
    } else {
      command->add_option(name, settings->*row.text, row.help);
    }
  }
}

}  // namespace tool
