// Comparing a package's launcher image with the one this tool ships.
#include "tools/package_tool/launcher_identity.h"

#include <algorithm>

#include "host/pe_image.h"
#include "tools/pe/pe_rewrite.h"
#include "tools/package_tool/input_files.h"
#include "tools/package_tool/tool_paths.h"
#include "tools/pe/branding.h"

namespace tool {

LauncherIdentity CompareLauncher(host::ByteView file, const packaging::PackageView& v) {
  const std::optional<std::string> reference = ReferenceLauncher();
  packaging::Bytes shipped;
  std::string error;
  if (!v.hasPackage || !reference || !ReadInputFile(*reference, &shipped, &error)) {
    return LauncherIdentity::kNotCompared;
  }
  packaging::Bytes image(file.begin(), file.begin() + std::min<uint64_t>(v.locator.headerOffset, file.size()));
  for (packaging::Bytes* b : {&image, &shipped}) {
    std::fill(b->begin() + std::min<size_t>(launcher::kLocatorOffset, b->size()),
              b->begin() + std::min<size_t>(launcher::kLocatorRoomEnd, b->size()), 0);
    pe::WithoutBranding(b, &error);  // an image it cannot read is compared as it is
    pe::ClearSignatureAndChecksum(b);
  }
  return image == shipped ? LauncherIdentity::kShipped : LauncherIdentity::kModified;
}

const char* LauncherWords(LauncherIdentity identity) {
  switch (identity) {
    case LauncherIdentity::kShipped: return "the one this tool ships";
    case LauncherIdentity::kModified: return "another one than this tool ships";
    case LauncherIdentity::kNotCompared: break;
  }
  return "not compared (no package, or no launcher installed with this tool)";
}

void AddLauncherProblem(LauncherIdentity identity, packaging::PackageView* view) {
  if (identity != LauncherIdentity::kModified) return;
  packaging::AddProblem(view, packaging::ProblemCode::kLauncherModified,
                        "the launcher image is not the one this tool ships (it differs outside the locator room, "
                        "checksum, certificate entry and branding): what verify shows holds only for the tool's "
                        "own launcher");
}

}  // namespace tool
