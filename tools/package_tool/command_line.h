// The command line as the tool reads it, beyond what CLI11 does: "--name="
// gives an option an empty value, and a mistyped option or command names
// the nearest one.
#ifndef TOOLS_PACKAGE_TOOL_COMMAND_LINE_H_
#define TOOLS_PACKAGE_TOOL_COMMAND_LINE_H_

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace tool {

// The arguments (argv[1] on) with each "--name=" of an option that takes a
// value split into "--name" and an empty word: CLI11 alone would take the
// next argument as its value.
std::vector<std::string> WithEmptyValues(CLI::App& app, int argc, char** argv);

// The name among `names` nearest to `word` (at most two edits away, or the
// only one it begins), or "".
std::string Nearest(const std::string& word, const std::vector<std::string>& names);

// For the first argument that starts with "--" and names no option of the
// command it is given to: " (did you mean --NAME?)", or "".
std::string DidYouMean(CLI::App& app, const std::vector<std::string>& arguments);

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_COMMAND_LINE_H_
