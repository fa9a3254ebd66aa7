// setup-package inspect: the map, the fields and the problems, as text or JSON.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>

#include "host/pe_image.h"
#include "tools/pe/branding.h"
#include "tools/packaging/package_reader.h"
#include "tools/packaging/program_check.h"
#include "tools/package_tool/commands.h"
#include "tools/package_tool/input_files.h"
#include "tools/package_tool/package_check.h"
#include "tools/package_tool/package_words.h"
#include "tools/package_tool/launcher_identity.h"
#include "tools/package_tool/report.h"
#include "tools/package_tool/verify_rows.h"

namespace tool {

namespace {

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

// The maker's part of the launcher image: its version strings and icon.
pe::BrandingView Branding(host::ByteView file, const packaging::PackageView& v) {
  pe::BrandingView branding;
  std::string error;
  pe::ReadBranding(file.First(v.hasPackage ? v.locator.headerOffset : file.size()), &branding, &error);
  return branding;
}

std::string IconWords(const pe::IconImage& i) {
  return std::to_string(i.width ? i.width : 256) + "x" + std::to_string(i.height ? i.height : 256) + " " +
         (i.png ? "PNG" : std::to_string(i.bitCount) + "-bit bitmap");
}

void PrintBranding(const pe::BrandingView& b) {
  std::printf("\nfile properties (version resource):\n");
  if (!b.hasVersion) std::printf("  none\n");
  for (const auto& [key, value] : b.version.strings) {
    std::printf("  %-17s \"%s\"\n", key.c_str(), Escaped(host::Utf16ToWtf8(value)).c_str());
  }
  if (b.hasVersion) {
    std::printf("  %-17s %s, product %s\n", "version numbers", pe::VersionText(b.version.fileVersion).c_str(),
                pe::VersionText(b.version.productVersion).c_str());
  }
  std::string icons;
  for (const pe::IconImage& i : b.icons) icons += (icons.empty() ? "" : ", ") + IconWords(i);
  std::printf("icon: %s\n", icons.empty() ? "none" : icons.c_str());
}

nlohmann::ordered_json BrandingJson(const pe::BrandingView& b) {
  nlohmann::ordered_json strings = nlohmann::ordered_json::object();
  for (const auto& [key, value] : b.version.strings) strings[key] = host::Utf16ToValidUtf8(value);
  nlohmann::ordered_json icons = nlohmann::ordered_json::array();
  for (const pe::IconImage& i : b.icons) {
    icons.push_back({{"width", i.width ? i.width : 256},
                     {"height", i.height ? i.height : 256},
                     {"bitCount", i.bitCount},
                     {"format", i.png ? "png" : "bmp"},
                     {"bytes", i.data.size()}});
  }
  nlohmann::ordered_json j;
  j["versionResource"] = b.hasVersion;
  j["fileVersion"] = pe::VersionText(b.version.fileVersion);
  j["productVersion"] = pe::VersionText(b.version.productVersion);
  j["strings"] = strings;
  j["icon"] = icons;
  return j;
}

std::string TableWords(const pe::CertificateTable& t) {
  if (!t.present) return "none";
  return "certificate table of " + std::to_string(t.size) + " bytes at " + std::to_string(t.offset) +
         (t.consistent ? "" : " (it does not fit the file: no signature)");
}

// Which parts carry a certificate table: the package, each decoded program.
void PrintSignatures(const Verification& verification) {
  const packaging::PackageView& v = verification.view;
  std::printf("\nsignatures:\n");
  std::printf("  package         %s\n", v.signature ? ("certificate table of " + std::to_string(v.signature->end - v.signature->start) + " bytes").c_str() : "none");
  if (verification.decoded32) std::printf("  32-bit program  %s\n", TableWords(verification.certificate32).c_str());
  if (verification.decoded64) std::printf("  64-bit program  %s\n", TableWords(verification.certificate64).c_str());
}

nlohmann::ordered_json TableJson(const pe::CertificateTable& t) {
  return {{"certificateTable", t.consistent}, {"bytes", t.consistent ? t.size : 0}};
}

void PrintText(const std::string& path, host::ByteView file, const Verification& verification) {
  const packaging::PackageView& v = verification.view;
  const LauncherIdentity identity = verification.identity;
  if (!v.hasPackage) {
    std::printf("%s\n", NoPackageSentence(path, v).c_str());
    return;
  }
  std::printf("file: %" PRIu64 " bytes\n", v.fileSize);
  std::printf("\nmap of the file:\n");
  for (const packaging::Region& r : v.regions) {
    std::printf("  %10" PRIu64 " .. %10" PRIu64 "  %10" PRIu64 " bytes  %s\n", r.start, r.end, r.end - r.start,
                r.name().c_str());
  }
  std::printf("\nlauncher image: %s\n", LauncherWords(identity));
  PrintBranding(Branding(file, v));
  const launcher::PackageLocator& l = v.locator;
  std::printf("\nlocator (offset 128):\n");
  std::printf("  header offset   %u\n", l.headerOffset);
  std::printf("  CRC region      %u .. %" PRIu64 " (%u bytes), CRC-32 %08X, %s\n", l.headerOffset,
              uint64_t(l.headerOffset) + l.crcLength, l.crcLength, l.crcValue,
              v.crcMatches ? "matches" : "DOES NOT MATCH");
  std::printf("  total size      %" PRIu64 " bytes\n", launcher::TotalSize(l));
  std::printf("  detached        %s\n", l.detachedSize != 0 ? ("yes, size " + std::to_string(l.detachedSize)).c_str()
                                                            : "no: the launcher waits and deletes its copy");
  if (v.headerRead) {
    const launcher::PackageHeader& h = v.header;
    std::printf("\nheader:\n");
    std::printf("  LZMA            lc %u, lp %u, pb %u, dictionary %u bytes\n", v.lc, v.lp, v.pb,
                launcher::DictionarySize(h));
    std::printf("  allowed         %s\n", AllowedWords(h.allowedVersions).c_str());
    std::printf("  elevation mode  %u: %s\n", h.elevationMode, ElevationWords(h.elevationMode));
    std::printf("  32-bit program  %s\n", PayloadWords(h.payload32, false).c_str());
    std::printf("  64-bit program  %s\n", PayloadWords(h.payload64, true).c_str());
    std::printf("  setup data      %s\n", SetupDataWords(v).c_str());
    std::printf("  architecture message: \"%s\"\n", Escaped(host::Utf16ToWtf8(v.architectureMessage)).c_str());
    std::printf("  version message:      \"%s\"\n", Escaped(host::Utf16ToWtf8(v.versionMessage)).c_str());
  }
  PrintSignatures(verification);
  std::printf("\n%s\n", v.problems.empty() ? "no problems found" : "problems:");
  for (size_t k = 0; k < v.problems.size(); ++k) {
    std::printf("  - [%s] %s\n", v.problemCodes[k].c_str(), Escaped(v.problems[k]).c_str());
  }
}

nlohmann::ordered_json Json(const std::string& path, host::ByteView file, const Verification& verification,
                           const std::vector<std::string>& warnings) {
  const packaging::PackageView& v = verification.view;
  const LauncherIdentity identity = verification.identity;
  nlohmann::ordered_json j;
  j["command"] = "inspect";
  j["package"] = path;
  j["fileSize"] = v.fileSize;
  j["hasPackage"] = v.hasPackage;
  if (v.hasPackage) {
    const launcher::PackageLocator& l = v.locator;
    j["locator"] = {{"headerOffset", l.headerOffset}, {"crcLength", l.crcLength},
                    {"crcValue", l.crcValue},         {"totalSize", launcher::TotalSize(l)},
                    {"detachedSize", l.detachedSize}};
    j["crcMatches"] = v.crcMatches;
    j["launcherImage"] = LauncherWords(identity);
    j["branding"] = BrandingJson(Branding(file, v));
    j["regions"] = nlohmann::ordered_json::array();
    for (const packaging::Region& r : v.regions) {
      j["regions"].push_back({{"name", r.name()}, {"start", r.start}, {"end", r.end}});
    }
  }
  if (v.headerRead) {
    const launcher::PackageHeader& h = v.header;
    auto entry = [](const launcher::PayloadEntry& e) {
      return nlohmann::ordered_json{
          {"offset", e.offset}, {"compressedSize", e.compressedSize}, {"uncompressedSize", e.uncompressedSize}};
    };
    nlohmann::ordered_json names = nlohmann::ordered_json::array();
    for (const launcher::VersionRowSpec& row : launcher::kVersionRows) {
      if ((h.allowedVersions >> row.bit) & 1) names.push_back(row.name);
    }
    j["header"] = {{"lc", v.lc},
                   {"lp", v.lp},
                   {"pb", v.pb},
                   {"dictionarySize", launcher::DictionarySize(h)},
                   {"allowedVersions", Hex64(h.allowedVersions)},
                   {"allowedVersionNames", names},
                   {"elevationMode", h.elevationMode},
                   {"payload32", entry(h.payload32)},
                   {"payload64", entry(h.payload64)},
                   {"architectureMessage", host::Utf16ToValidUtf8(v.architectureMessage)},
                   {"versionMessage", host::Utf16ToValidUtf8(v.versionMessage)}};
    // A lone surrogate has no UTF-8: the string shows U+FFFD, and the exact
    // UTF-16 code units go beside it.
    for (const auto& [key, text] : {std::pair<const char*, const std::u16string*>{"architectureMessageUtf16",
                                                                                   &v.architectureMessage},
                                    {"versionMessageUtf16", &v.versionMessage}}) {
      if (host::HasLoneSurrogate(*text)) j["header"][key] = std::vector<uint16_t>(text->begin(), text->end());
    }
  }
  j["signature"] = v.signature.has_value();
  j["signatures"] = {{"package", {{"certificateTable", v.signature.has_value()},
                                  {"bytes", v.signature ? v.signature->end - v.signature->start : 0}}}};
  if (verification.decoded32) j["signatures"]["program32"] = TableJson(verification.certificate32);
  if (verification.decoded64) j["signatures"]["program64"] = TableJson(verification.certificate64);
  j["problems"] = v.problems;
  j["problemCodes"] = v.problemCodes;
  j["warnings"] = warnings;
  return j;
}

}  // namespace

Runner AddInspect(CLI::App& app, const Common& common) {
  struct Settings {
    std::string package;
    std::optional<std::string> reference;
    bool json = false, strict = false;
  };
  auto settings = std::make_shared<Settings>();
  CLI::App* sub = app.add_subcommand(
      "inspect",
      "Shows the package as a map of the file (launcher image, header, payloads, messages, setup\n"
      "data, anything after the recorded end such as a signature), every field in words, the\n"
      "messages, and the problems found: the CRC, sizes and ranges, each payload decoded by the\n"
      "launcher's own code and checked to be a Windows program for its slot, a\n"
      "stale certificate-table entry, rows of verify that end in a runtime error. Exit status 1\n"
      "when problems were found, or the file carries no package; with --strict also on a warning.");
  sub->add_option("PACKAGE", settings->package, "the package file")->required();
  sub->add_flag("--json", settings->json, "print the same as JSON (with a schemaVersion)");
  sub->add_flag("--strict", settings->strict, "exit status 1 on a warning too");
  AddReferenceOption(sub, &settings->reference);
  return [settings, &common]() {
    MappedFile file;
    std::string error;
    if (!MapInputFile(settings->package, &file, &error)) return Fail(kExitInputOutput, error);
    Say(common, "inspecting: " + settings->package + " (" + std::to_string(file.bytes.size()) + " bytes)");
    std::optional<packaging::Bytes> reference;
    if (!LoadReference(settings->reference, &reference, &error)) return Fail(kExitInputOutput, error);
    // verify's rows, unprinted: a row that ends in a runtime error is a problem here too.
    Verification verification;
    Verify(file, common, reference, &verification, [](const Row&, const Outcome&) {});
    const packaging::PackageView& view = verification.view;
    std::vector<std::string> warnings = PackageWarnings(view);
    for (const std::string& w : Warnings(verification)) warnings.push_back(w);
    if (settings->json) {
      PrintJson(Json(settings->package, file.bytes, verification, warnings));
    } else {
      if (!common.quiet || !view.problems.empty()) PrintText(settings->package, file.bytes, verification);
      for (const std::string& w : warnings) Warn(common, w);
    }
    return view.problems.empty() && !(settings->strict && !warnings.empty()) ? kExitFine : kExitProblems;
  };
}

}  // namespace tool
