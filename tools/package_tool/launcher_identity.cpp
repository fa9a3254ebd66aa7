// Comparing a file's launcher image with the one this tool ships.
#include "tools/package_tool/launcher_identity.h"

#include <algorithm>

#include "host/pe_image.h"
#include "tools/pe/pe_rewrite.h"
#include "tools/package_tool/input_files.h"
#include "tools/package_tool/tool_paths.h"
#include "tools/pe/branding.h"

namespace tool {

namespace {

// The launcher room, checksum, certificate entry and branding: what
// building a package changes in the image.
void Normalise(packaging::Bytes* b) {
  std::string error;
  std::fill(b->begin() + std::min<size_t>(launcher::kLocatorOffset, b->size()),
            b->begin() + std::min<size_t>(launcher::kLocatorRoomEnd, b->size()), 0);
  pe::WithoutBranding(b, &error);  // an image it cannot read is compared as it is
  pe::ClearSignatureAndChecksum(b);
}

// The image up to where its own headers and sections end (a damaged one: up
// to the package), normalised, against the normalised reference.
LauncherIdentity CompareLauncher(host::ByteView file, const packaging::PackageView& v,
                                 const std::optional<packaging::Bytes>& reference) {
  pe::ImageInfo info;
  std::string why;
  uint64_t end = 0;
  if (pe::Parse(file, &info, &why)) end = info.imageEnd;
  else if (v.hasPackage) end = std::min<uint64_t>(v.locator.headerOffset, file.size());  // a damaged image: up to the package
  else return LauncherIdentity::kNoImage;
  if (!reference) return LauncherIdentity::kNoReference;
  packaging::Bytes image(file.begin(), file.begin() + end);
  Normalise(&image);
  return image == *reference ? LauncherIdentity::kShipped : LauncherIdentity::kModified;
}

// What ReadCompared says of a file that carries no package.
void ReadAsNoPackage(host::ByteView file, LauncherIdentity identity, packaging::PackageView* view) {
  std::string why;
  if (!view->hasPackage || identity == LauncherIdentity::kShipped || packaging::CarriesPackage(file, *view, &why)) return;
  packaging::PackageView none;
  none.fileSize = view->fileSize;
  packaging::AddProblem(&none, packaging::ProblemCode::kNotAPackage, why);
  *view = std::move(none);
}

}  // namespace

bool LoadReference(const std::optional<std::string>& given, std::optional<packaging::Bytes>* reference,
                   std::string* error) {
  reference->reset();
  const std::optional<std::string> path = given ? given : InstalledLauncher();
  if (!path) return true;
  packaging::Bytes bytes;
  if (!ReadInputFile(*path, &bytes, error)) return !given;  // a launcher beside the tool that cannot be read: none
  Normalise(&bytes);
  *reference = std::move(bytes);
  return true;
}

const char* LauncherWords(LauncherIdentity identity) {
  switch (identity) {
    case LauncherIdentity::kShipped: return "the one this tool ships";
    case LauncherIdentity::kModified: return "another one than this tool ships";
    case LauncherIdentity::kNoImage: return "none (the file is no Windows program)";
    case LauncherIdentity::kNoReference: break;
  }
  return "not compared (no launcher installed with this tool; --reference-launcher names one)";
}

void AddLauncherProblem(LauncherIdentity identity, packaging::PackageView* view) {
  if (identity != LauncherIdentity::kModified || !view->hasPackage) return;
  packaging::AddProblem(view, packaging::ProblemCode::kLauncherModified,
                        "the launcher image is not the one this tool ships (it differs outside the locator room, "
                        "checksum, certificate entry and branding): what verify shows holds only for the tool's "
                        "own launcher");
}

std::optional<std::string> LauncherWarning(LauncherIdentity identity) {
  if (identity != LauncherIdentity::kNoReference) return std::nullopt;
  return "the launcher image was not compared with the one this tool ships: no launcher is installed beside this "
         "tool (" + InstalledLauncherPath() + "); give --reference-launcher FILE. What verify shows holds only for "
         "the tool's own launcher";
}

packaging::PackageView ReadCompared(host::ByteView file, const std::optional<packaging::Bytes>& reference,
                                    LauncherIdentity* identity) {
  packaging::PackageView view = packaging::ReadPackage(file);
  *identity = CompareLauncher(file, view, reference);
  ReadAsNoPackage(file, *identity, &view);
  return view;
}

}  // namespace tool
