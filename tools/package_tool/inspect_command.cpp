#include <cinttypes>
#include <cstdio>
#include <string>

#include "tools/package/package_reader.h"
#include "tools/package_tool/commands.h"

namespace tool {

namespace {

const char kUsage[] =
    "usage: setup-package inspect PACKAGE [--json]\n"
    "\n"
    "Shows the package as a map of the file (launcher image, header, payloads, messages,\n"
    "setup data, the CRC region, anything after the recorded end such as a signature),\n"
    "every field in words, the messages, and the problems found. --json prints the same\n"
    "for scripts. Exit status 1 when problems were found.\n";

const char* ElevationWords(uint8_t mode) {
  switch (mode) {
    case 1: return "silent installs start elevated (runas)";
    case 2: return "silent installs start with /noadmin";
    default: return "silent installs start plainly";
  }
}

std::string PayloadWords(const launcher::PayloadEntry& e, bool is64) {
  if (e.offset == 0) return "none";
  if (is64 && e.offset == launcher::kNotFor64BitWindows) return "none, and not to run on 64-bit Windows";
  return "at " + std::to_string(e.offset) + ", " + std::to_string(e.compressedSize) + " bytes compressed, " +
         std::to_string(e.uncompressedSize) + " bytes decoded";
}

std::string AllowedWords(uint64_t set) {
  std::string words;
  for (const auto& [bit, name] : packaging::VersionNames()) {
    if ((set >> bit) & 1) words += (words.empty() ? "" : ", ") + name;
  }
  return words.empty() ? "none" : words;
}

void PrintText(const packaging::PackageView& v) {
  std::printf("file: %" PRIu64 " bytes\n", v.fileSize);
  if (!v.hasPackage) {
    std::printf("no package attached\n");
  } else {
    std::printf("\nmap of the file:\n");
    for (const packaging::Region& r : v.regions) {
      std::printf("  %10" PRIu64 " .. %10" PRIu64 "  %10" PRIu64 " bytes  %s\n", r.start, r.end, r.end - r.start,
                  r.name.c_str());
    }
    const launcher::PackageLocator& l = v.locator;
    std::printf("\nlocator (offset 128):\n");
    std::printf("  header offset   %u\n", l.headerOffset);
    std::printf("  CRC region      %u .. %" PRIu64 " (%u bytes), CRC-32 %08X, %s\n", l.headerOffset,
                uint64_t(l.headerOffset) + l.crcLength, l.crcLength, l.crcValue,
                v.crcMatches ? "matches" : "DOES NOT MATCH");
    std::printf("  total size      %" PRIu64 " bytes\n", launcher::TotalSize(l));
    std::printf("  detached        %s\n", l.detachedSize != 0 ? ("yes, size " + std::to_string(l.detachedSize)).c_str()
                                                              : "no: the launcher waits and deletes its copy");
  }
  if (v.headerRead) {
    const launcher::PackageHeader& h = v.header;
    std::printf("\nheader:\n");
    std::printf("  LZMA            lc %u, lp %u, pb %u, dictionary %u bytes\n", v.lc, v.lp, v.pb,
                launcher::DictionarySize(h));
    std::printf("  allowed         %s\n", AllowedWords(h.allowedVersions).c_str());
    std::printf("  elevation mode  %u: %s\n", h.elevationMode, ElevationWords(h.elevationMode));
    std::printf("  32-bit program  %s\n", PayloadWords(h.payload32, false).c_str());
    std::printf("  64-bit program  %s\n", PayloadWords(h.payload64, true).c_str());
    std::printf("  architecture message: \"%s\"\n", packaging::Utf16ToUtf8(v.architectureMessage).c_str());
    std::printf("  version message:      \"%s\"\n", packaging::Utf16ToUtf8(v.versionMessage).c_str());
  }
  std::printf("\n%s\n", v.problems.empty() ? "no problems found" : "problems:");
  for (const std::string& p : v.problems) std::printf("  - %s\n", p.c_str());
}

void PrintJson(const packaging::PackageView& v) {
  std::printf("{\n  \"fileSize\": %" PRIu64 ",\n  \"hasPackage\": %s", v.fileSize, v.hasPackage ? "true" : "false");
  if (v.hasPackage) {
    const launcher::PackageLocator& l = v.locator;
    std::printf(",\n  \"locator\": {\"headerOffset\": %u, \"crcLength\": %u, \"crcValue\": %u, \"totalSize\": %" PRIu64
                ", \"detachedSize\": %u},\n  \"crcMatches\": %s",
                l.headerOffset, l.crcLength, l.crcValue, launcher::TotalSize(l), l.detachedSize,
                v.crcMatches ? "true" : "false");
    std::printf(",\n  \"regions\": [");
    for (size_t i = 0; i < v.regions.size(); ++i) {
      std::printf("%s\n    {\"name\": %s, \"start\": %" PRIu64 ", \"end\": %" PRIu64 "}", i ? "," : "",
                  JsonString(v.regions[i].name).c_str(), v.regions[i].start, v.regions[i].end);
    }
    std::printf("\n  ]");
  }
  if (v.headerRead) {
    const launcher::PackageHeader& h = v.header;
    auto entry = [](const launcher::PayloadEntry& e) {
      return "{\"offset\": " + std::to_string(e.offset) + ", \"compressedSize\": " + std::to_string(e.compressedSize) +
             ", \"uncompressedSize\": " + std::to_string(e.uncompressedSize) + "}";
    };
    std::string allowed;
    for (const auto& [bit, name] : packaging::VersionNames()) {
      if ((h.allowedVersions >> bit) & 1) allowed += (allowed.empty() ? "" : ", ") + JsonString(name);
    }
    std::printf(",\n  \"header\": {\"lc\": %u, \"lp\": %u, \"pb\": %u, \"dictionarySize\": %u, \"allowedVersions\": %" PRIu64
                ", \"allowedVersionNames\": [%s], \"elevationMode\": %u, \"payload32\": %s, \"payload64\": %s,"
                " \"architectureMessage\": %s, \"versionMessage\": %s}",
                v.lc, v.lp, v.pb, launcher::DictionarySize(h), h.allowedVersions, allowed.c_str(), h.elevationMode,
                entry(h.payload32).c_str(), entry(h.payload64).c_str(),
                JsonString(packaging::Utf16ToUtf8(v.architectureMessage)).c_str(),
                JsonString(packaging::Utf16ToUtf8(v.versionMessage)).c_str());
  }
  std::printf(",\n  \"signature\": %s", v.signature ? "true" : "false");
  std::printf(",\n  \"problems\": [");
  for (size_t i = 0; i < v.problems.size(); ++i) std::printf("%s%s", i ? ", " : "", JsonString(v.problems[i]).c_str());
  std::printf("]\n}\n");
}

}  // namespace

int Inspect(Arguments& args) {
  std::string path;
  bool json = false;
  packaging::Bytes file;
  const int status = ReadPackageArguments(args, kUsage, &json, &path, &file);
  if (status >= 0) return status;
  const packaging::PackageView view = packaging::ReadPackage(file);
  if (json) PrintJson(view);
  else PrintText(view);
  return view.problems.empty() ? 0 : 1;
}

}  // namespace tool
