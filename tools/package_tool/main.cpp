// setup-package: the package authors' tool. One program, four commands:
//   build    make a package from a launcher image and setup programs
//   inspect  show a package's layout, fields, messages and problems
//   verify   run the launcher's own checks for every kind of machine
//   extract  write the decoded setup programs and the setup data to files
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/package_tool/commands.h"

namespace {

const char kUsage[] =
    "usage: setup-package COMMAND [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  build    make a package from a launcher image and setup programs\n"
    "  inspect  show a package's layout, fields, messages and problems\n"
    "  verify   show what the launcher does with a package on every kind of machine\n"
    "  extract  write the decoded setup programs and the setup data to files\n"
    "\n"
    "'setup-package COMMAND --help' describes each command.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  tool::Arguments args(argc - 2, argv + 2);
  if (command == "build") return tool::Build(args);
  if (command == "inspect") return tool::Inspect(args);
  if (command == "verify") return tool::Verify(args);
  if (command == "extract") return tool::Extract(args);
  std::fprintf(stderr, "setup-package: unknown command '%s'\n\n%s", command.c_str(), kUsage);
  return 2;
}
