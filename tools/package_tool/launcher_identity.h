// Whether a file's launcher image is the launcher this tool ships. verify
// runs the tool's own launcher code, so its rows hold only for a package
// whose image is that launcher.
#ifndef TOOLS_PACKAGE_TOOL_LAUNCHER_IDENTITY_H_
#define TOOLS_PACKAGE_TOOL_LAUNCHER_IDENTITY_H_

#include <optional>
#include <string>

#include "host/bytes.h"
#include "tools/packaging/package_reader.h"

namespace tool {

enum class LauncherIdentity {
  kShipped,      // the same bytes but for what building a package changes
  kModified,     // anything else differs
  kNoImage,      // the file holds no launcher image to compare
  kNoReference,  // no reference launcher at hand
};

// The launcher image packages are compared with: the file `given`
// (--reference-launcher) when there is one, else InstalledLauncher(), else
// none. False with the reason when the given file cannot be read.
bool LoadReference(const std::optional<std::string>& given, std::optional<packaging::Bytes>* reference,
                   std::string* error);

// The file read as a package (packaging::ReadPackage), and its launcher
// image, as far as its own headers and sections reach (wherever the locator
// says the package starts), compared with the reference, leaving out the
// locator room, the PE checksum, the certificate-table entry and the maker's
// version resource and icon. A file whose launcher is not the shipped one
// and that holds nothing a package would (packaging::CarriesPackage) is read
// as no package: its view is the one sentence why ("not-a-package").
packaging::PackageView ReadCompared(host::ByteView file, const std::optional<packaging::Bytes>& reference,
                                    LauncherIdentity* identity);
const char* LauncherWords(LauncherIdentity identity);

// With a modified launcher: the problem ("launcher-modified") added to the
// view.
void AddLauncherProblem(LauncherIdentity identity, packaging::PackageView* view);
// With no reference: why nothing was compared, as a warning.
std::optional<std::string> LauncherWarning(LauncherIdentity identity);

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_LAUNCHER_IDENTITY_H_
