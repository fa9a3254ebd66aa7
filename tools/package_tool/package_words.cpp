// Package fields in words, for inspect and verify.
#include "tools/package_tool/package_words.h"

#include "tools/package_tool/report.h"

namespace tool {

std::string AllowedWords(uint64_t set) {
  std::string words;
  for (const launcher::VersionRowSpec& row : launcher::kVersionRows) {
    if ((set >> row.bit) & 1) words += (words.empty() ? "" : ", ") + std::string(row.name);
  }
  return words.empty() ? "none" : words;
}

std::string SetupDataWords(const packaging::PackageView& view) {
  for (const packaging::Region& r : view.regions) {
    if (r.kind == packaging::RegionKind::kSetupData) {
      return "offsets " + std::to_string(r.start) + " .. " + std::to_string(r.end) + " (" +
             std::to_string(r.end - r.start) + " bytes; the header's payload-end field gives the start)";
    }
  }
  return "none";
}

std::vector<std::string> PackageWarnings(const packaging::PackageView& view) {
  std::vector<std::string> warnings;
  if (!view.headerRead) return warnings;
  if (view.locator.headerOffset + uint64_t(view.locator.crcLength) < view.headerAndPayloadsEnd) {
    warnings.push_back("the CRC region of " + std::to_string(view.locator.crcLength) + " bytes" + kCrcLeavesOut);
  }
  return warnings;
}

std::string NoPackageSentence(const std::string& path, const packaging::PackageView& v) {
  return Escaped(path) + " carries no package: " + (v.problems.empty() ? "" : Escaped(v.problems[0]) + " [" + v.problemCodes[0] + "]");
}

}  // namespace tool
