#include "tools/package_tool/package_words.h"

namespace tool {

std::string AllowedWords(uint64_t set) {
  std::string words;
  for (const auto& [bit, name] : launcher::kVersionNames) {
    if ((set >> bit) & 1) words += (words.empty() ? "" : ", ") + std::string(name);
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

}  // namespace tool
