#include "tools/package_tool/build_options.h"

#include <iterator>
#include <sstream>
#include <tuple>

#include <toml++/toml.h>

#include "host/code_pages.h"
#include "host/system/files.h"
#include "host/utf.h"
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

}  // namespace

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
      text("output", Kind::kPath, &S::output, "REQUIRED: the package to write (replaced when it exists)"),
      text("program32", Kind::kPath, &S::program32,
           "REQUIRED (this, --program64 or both): the 32-bit setup program (an i386 Windows program)"),
      text("program64", Kind::kPath, &S::program64,
           "REQUIRED (this, --program32 or both): the 64-bit setup program (an x86-64 Windows\n"
           "program; with --program32 it is the one used on 64-bit Windows)"),
      flag("not-for-64bit", &S::notFor64Bit, "the 32-bit program must not run on 64-bit Windows"),
      text("setup-data", Kind::kPath, &S::setupData, "data for the setup program, placed right after the payloads"),
      text("architecture-message", Kind::kText, &S::architectureMessage,
           "shown when the machine's architecture does not suit (UTF-8)"),
      text("architecture-message-file", Kind::kPath, &S::architectureMessageFile, "the same from a file"),
      text("version-message", Kind::kText, &S::versionMessage,
           "shown when the Windows version is not allowed; %USER% becomes the version's name"),
      text("version-message-file", Kind::kPath, &S::versionMessageFile, "the same from a file"),
      text("versions", Kind::kVersions, &S::versions,
           "allowed versions, comma-separated: " + VersionNamesHelp() +
               "; default: all of them. \"later\"\n"
               "covers versions after 10, such as 11.0; the launcher never allows 6.4 to 9.x."),
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
             "the code page the messages are checked against" + Default(host::kDefaultCodePage), host::CodePages(),
             true),
      flag("replace", &S::replace, "accept an image that already carries a package and replace it"),
      text("company", Kind::kText, &S::company, "the company name in the package's file properties"),
      text("product", Kind::kText, &S::product, "the product name in the package's file properties"),
      text("description", Kind::kText, &S::description, "the file description in the package's file properties"),
      text("copyright", Kind::kText, &S::copyright, "the copyright line in the package's file properties"),
      text("product-version", Kind::kText, &S::productVersion,
           "the product version, A.B.C.D (one to four numbers of 0..65535; missing ones are 0)"),
      text("file-version", Kind::kText, &S::fileVersion, "the file version, A.B.C.D (default: the product version)"),
      text("icon", Kind::kPath, &S::icon,
           "an .ico file whose images become the package's icon (default: the launcher's own);\n"
           "the options not given keep the launcher image's values"),
      text("sign-command", Kind::kText, &S::signCommand,
           "a shell command that signs the package: {in} becomes the unsigned package, {out}\n"
           "where the signed one must appear (both quoted); the output appears only signed"),
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
  const std::string base = sys::FolderOf(path);
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
    if (row->kind == Kind::kPath && !value.empty() && !sys::IsAbsolute(value)) value = base + "/" + value;
    out->*row->text = value;
  }
  return kExitFine;
}

void AddBuildOptions(CLI::App* command, BuildSettings* settings) {
  for (const OptionRow& row : Options()) {
    const std::string name = std::string("--") + row.name;
    if (row.flag) {
      command->add_flag(name, settings->*row.flag, row.help);
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

namespace {

// The maker's strings: UTF-8 without control characters.
struct VersionString {
  const char* option;
  std::optional<std::string> BuildSettings::*given;
  std::optional<std::u16string> pe::Branding::*branding;
};
const VersionString kVersionStrings[] = {
    {"--company", &BuildSettings::company, &pe::Branding::company},
    {"--product", &BuildSettings::product, &pe::Branding::product},
    {"--description", &BuildSettings::description, &pe::Branding::description},
    {"--copyright", &BuildSettings::copyright, &pe::Branding::copyright},
};

}  // namespace

int ReadBranding(const BuildSettings& s, pe::Branding* out, std::string* error) {
  *out = pe::Branding();
  for (const auto& [option, field, branding] : kVersionStrings) {
    if (!(s.*field)) continue;
    std::u16string text;
    if (!host::Utf8ToUtf16(*(s.*field), &text)) return *error = std::string(option) + ": the text is not UTF-8", kExitUsage;
    for (char16_t c : text) {
      if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
        return *error = std::string(option) + ": control characters have no place in a version string", kExitUsage;
      }
    }
    out->*branding = text;
  }
  for (const auto& [option, field, slot] :
       {std::make_tuple("--product-version", &BuildSettings::productVersion, &pe::Branding::productVersion),
        std::make_tuple("--file-version", &BuildSettings::fileVersion, &pe::Branding::fileVersion)}) {
    if (!(s.*field)) continue;
    pe::VersionNumber number;
    std::string why;
    if (!pe::ParseVersionNumber(*(s.*field), &number, &why)) {
      return *error = std::string(option) + " " + Escaped(*(s.*field)) + ": " + why, kExitUsage;
    }
    out->*slot = number;
  }
  if (s.icon) {
    MappedFile file;
    if (!MapInputFile(*s.icon, &file, error)) return kExitInputOutput;
    std::vector<pe::IconImage> images;
    std::string problem;
    if (!pe::ParseIco(file.bytes, &images, &problem)) {
      return *error = "--icon " + Escaped(*s.icon) + ": " + problem, kExitUsage;
    }
    out->icon = std::move(images);
  }
  const std::string name = s.output ? s.output->substr(s.output->rfind('/') + 1) : "";
  if (!host::Utf8ToUtf16(name, &out->originalFilename)) out->originalFilename.assign(name.begin(), name.end());
  return kExitFine;
}

std::string TooLongForVersionBlock(const BuildSettings& s) {
  const char* longest = "--company";
  size_t length = 0;
  for (const VersionString& v : kVersionStrings) {
    if (s.*v.given && (s.*v.given)->size() > length) longest = v.option, length = (s.*v.given)->size();
  }
  return std::string(longest) + ": the version strings are longer than the 65535 bytes a version block holds";
}

}  // namespace tool
