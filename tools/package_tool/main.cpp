// setup-package: the package authors' tool. One program, five commands:
//   build    make a package from a launcher image and setup programs
//   inspect  show a package's layout, fields, messages and problems
//   verify   run the launcher's own checks for every kind of machine
//   extract  write the decoded setup programs and the setup data to files
//   explain  say what a problem or row code means
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "host/system/process.h"
#include "tools/package_tool/command_line.h"
#include "tools/package_tool/commands.h"

#ifndef SETUP_PACKAGE_VERSION
#define SETUP_PACKAGE_VERSION "0"
#endif

int tool::RunTool(int argc, char** argv) {
  sys::PrepareStandardStreams();
  CLI::App app("setup-package: makes, inspects, checks and unpacks setup packages.", "setup-package");
  app.footer(
      "'setup-package COMMAND --help' describes each command.\n"
      "\n"
      "exit status: 0 fine; 1 the package has problems; 2 called wrongly; 3 a file could not\n"
      "be read or written.");
  app.set_version_flag("--version", "setup-package " SETUP_PACKAGE_VERSION);
  app.require_subcommand(1);
  app.fallthrough();  // -q and -v also after the command
  tool::Common common;
  const tool::Runner runners[] = {tool::AddBuild(app, common), tool::AddInspect(app, common),
                                  tool::AddVerify(app, common), tool::AddExtract(app, common),
                                  tool::AddExplain(app, common)};
  // Before or after the command, and in each command's help.
  for (CLI::App* command : std::vector<CLI::App*>{&app, app.get_subcommand("build"), app.get_subcommand("inspect"),
                                                  app.get_subcommand("verify"), app.get_subcommand("extract"),
                                                  app.get_subcommand("explain")}) {
    command->add_flag("-q,--quiet", common.quiet, "print errors only");
    command->add_flag("-v,--verbose", common.verbose, "say what is being done");
  }
  const std::string first = argc > 1 ? argv[1] : "";
  const char* names[] = {"build", "inspect", "verify", "extract", "explain"};
  if (!first.empty() && first[0] != '-' && std::find(std::begin(names), std::end(names), first) == std::end(names)) {
    const std::string nearest = tool::Nearest(first, std::vector<std::string>(std::begin(names), std::end(names)));
    return tool::Fail(tool::kExitUsage, "unknown command '" + first + "'" +
                                            (nearest.empty() ? "" : " (did you mean " + nearest + "?)") +
                                            " (build, inspect, verify, extract, explain)");
  }
  const std::vector<std::string> arguments = tool::WithEmptyValues(app, argc, argv);
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--") break;
    if (std::string(argv[i]) == "--json") tool::FailAsJson();
  }
  try {
    app.parse(std::vector<std::string>(arguments.rbegin(), arguments.rend()));  // CLI11 takes them last first
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    tool::Fail(tool::kExitUsage, e.what() + tool::DidYouMean(app, arguments));
    std::fprintf(stderr, "Run with --help for the options.\n");
    return tool::kExitUsage;
  }
  CLI::App* chosen = app.get_subcommands().front();
  int status = tool::kExitUsage;
  for (size_t i = 0; i < std::size(names); ++i) {
    if (chosen->get_name() == names[i]) status = runners[i]();
  }
  // What could not be printed is a failed write like any other.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "setup-package: standard output: %s\n", std::strerror(errno ? errno : EIO));
    return tool::kExitInputOutput;
  }
  return status;
}
