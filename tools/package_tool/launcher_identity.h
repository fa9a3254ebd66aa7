// Whether a package's launcher image is the launcher this tool ships. verify
// runs the tool's own launcher code, so its rows hold only for a package
// whose image is that launcher.
#ifndef TOOLS_PACKAGE_TOOL_LAUNCHER_IDENTITY_H_
#define TOOLS_PACKAGE_TOOL_LAUNCHER_IDENTITY_H_

#include "host/bytes.h"
#include "tools/packaging/package_reader.h"

namespace tool {

enum class LauncherIdentity {
  kShipped,      // the same bytes but for what building a package changes
  kModified,     // anything else differs
  kNotCompared,  // no package, or no reference launcher at hand
};

// Compares the package's launcher image with ReferenceLauncher(), leaving
// out the locator room, the PE checksum, the certificate-table entry and the
// maker's version resource and icon.
LauncherIdentity CompareLauncher(host::ByteView file, const packaging::PackageView& view);
const char* LauncherWords(LauncherIdentity identity);

// With a modified launcher: the problem ("launcher-modified") added to the
// view.
void AddLauncherProblem(LauncherIdentity identity, packaging::PackageView* view);

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_LAUNCHER_IDENTITY_H_
