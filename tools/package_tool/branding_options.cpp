// The maker's strings, version numbers and icon, read from build's settings.
#include "tools/package_tool/branding_options.h"

#include <tuple>

#include "host/system/files.h"
#include "host/utf.h"
#include "tools/package_tool/commands.h"
#include "tools/package_tool/input_files.h"
#include "tools/package_tool/report.h"

namespace tool {

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
  const std::string name = s.output ? sys::FileNameOf(*s.output) : "";
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
