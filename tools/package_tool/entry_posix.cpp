// The program entry on Linux: the arguments are UTF-8 already.
#include "tools/package_tool/commands.h"

int main(int argc, char** argv) { return tool::RunTool(argc, argv); }
