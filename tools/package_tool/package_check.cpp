// The package read, its programs checked and its launcher compared, once.
#include "tools/package_tool/package_check.h"

namespace tool {

void AddReferenceOption(CLI::App* command, std::optional<std::string>* path) {
  command->add_option("--reference-launcher", *path,
                      "compare the package's launcher image with FILE (default: the launcher installed with "
                      "this tool)");
}

CheckedPackage CheckPackage(host::ByteView file, const Common& common, const std::optional<packaging::Bytes>& reference) {
  CheckedPackage checked;
  checked.view = ReadCompared(file, reference, &checked.identity);
  checked.slot32.progress = checked.slot64.progress = ShowsProgress(common);
  packaging::CheckPrograms(file, &checked.view, &checked.slot32, &checked.slot64);
  AddLauncherProblem(checked.identity, &checked.view);
  return checked;
}

}  // namespace tool
