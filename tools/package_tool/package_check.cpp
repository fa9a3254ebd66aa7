// The package read, its programs checked and its launcher compared, once.
#include "tools/package_tool/package_check.h"

namespace tool {

CheckedPackage CheckPackage(host::ByteView file, const Common& common) {
  CheckedPackage checked;
  checked.view = packaging::ReadPackage(file);
  checked.slot32.progress = checked.slot64.progress = ShowsProgress(common);
  packaging::CheckPrograms(file, &checked.view, &checked.slot32, &checked.slot64);
  checked.identity = CompareLauncher(file, checked.view);
  AddLauncherProblem(checked.identity, &checked.view);
  return checked;
}

}  // namespace tool
