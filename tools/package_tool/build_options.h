// The options of `setup-package build`: one table that the command line, the
// package file (TOML) and the merge of the two all read.
#ifndef TOOLS_PACKAGE_TOOL_BUILD_OPTIONS_H_
#define TOOLS_PACKAGE_TOOL_BUILD_OPTIONS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>


namespace tool {

// Every option of build; unset ones come from the package file, then from
// the writer's own defaults.
struct BuildSettings {
  std::optional<std::string> launcher, output, program32, program64, setupData;
  std::optional<std::string> architectureMessage, architectureMessageFile, versionMessage, versionMessageFile;
  std::optional<std::string> versions, crcReach;
  std::optional<std::string> company, product, description, copyright, productVersion, fileVersion, icon;
  std::optional<std::string> signCommand;
  std::optional<uint32_t> elevation, lzmaPreset, dictionary, lc, lp, pb, codePage, threads;
  std::optional<bool> notFor64Bit, detached, replace, signPrograms;
};

enum class OptionKind {
  kPath,      // a file; in the package file relative to the file's folder
  kText,      // UTF-8 text
  kVersions,  // version names, comma-separated; in the package file also a list
  kCrcReach,  // a word or a byte count; in the package file also a number
  kNumber,    // a whole number, checked against `allowed`
  kFlag,      // on or off
};

// One row per option: its name (--NAME on the command line, NAME in the
// package file), what it takes, where it goes, its help and its check.
struct OptionRow {
  const char* name;
  OptionKind kind;
  std::optional<std::string> BuildSettings::*text;
  std::optional<uint32_t> BuildSettings::*number;
  std::optional<bool> BuildSettings::*flag;
  std::string help;
  std::vector<uint32_t> allowed;  // numbers: {low, high}, or the only values (more than two, or `only`)
  bool only = false;              // `allowed` lists the values rather than a range
};
const std::vector<OptionRow>& Options();
// The one check of a number option: "" when `value` is allowed, otherwise
// what is.
std::string CheckNumber(const OptionRow& row, uint64_t value);

// Adds every row to `command`, storing into `settings`.
void AddBuildOptions(CLI::App* command, BuildSettings* settings);

// Takes each field of `fallback` that `settings` lacks.
void Merge(BuildSettings* settings, const BuildSettings& fallback);

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_BUILD_OPTIONS_H_
