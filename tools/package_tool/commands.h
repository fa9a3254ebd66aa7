// The commands of setup-package and what they share.
#ifndef TOOLS_PACKAGE_TOOL_COMMANDS_H_
#define TOOLS_PACKAGE_TOOL_COMMANDS_H_

#include <string>

#include <CLI/CLI.hpp>

namespace tool {

// Exit codes, one meaning each (also in --help and the README).
constexpr int kExitFine = 0;
constexpr int kExitProblems = 1;     // the package (or an input program) has problems
constexpr int kExitUsage = 2;        // called wrongly
constexpr int kExitInputOutput = 3;  // a file could not be read or written

// Settings every command sees.
struct Common {
  bool quiet = false;    // -q: errors only
  bool verbose = false;  // -v: say what is being done
};

// The whole tool, from the program entry (main, or wmain on Windows) with
// the arguments in UTF-8: its exit status.
int RunTool(int argc, char** argv);

// Each command adds its subcommand to `app` and returns the function that
// runs it once the words are parsed.
using Runner = std::function<int()>;
Runner AddBuild(CLI::App& app, const Common& common);
Runner AddInspect(CLI::App& app, const Common& common);
Runner AddVerify(CLI::App& app, const Common& common);
Runner AddExtract(CLI::App& app, const Common& common);
Runner AddExplain(CLI::App& app, const Common& common);

// "setup-package: message" on standard error; returns `code`.
int Fail(int code, const std::string& message);
// From now on the first failure is also printed as a JSON document on
// standard output (for --json), unless the command's own document has begun
// (JsonStarted).
void FailAsJson();
void JsonStarted();
bool JsonErrorPending();
// "warning: message" on standard error, unless quiet.
void Warn(const Common& common, const std::string& message);
// A line of what is being done on standard error, with -v only.
void Say(const Common& common, const std::string& line);
// Whether a progress line goes to standard error: not with -q; with -v, or
// on a terminal.
bool ShowsProgress(const Common& common);

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_COMMANDS_H_
