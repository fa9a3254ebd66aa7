// Fuzz target of the tool's side: what the package tool does with a file it is
// given: the package reader and inspect's checks (each payload decoded by the
// launcher's own code), the PE reader, the launcher identity's
// normalisation, the maker's resources read back, and an .ico file read.
//
// Input: framed as the launcher target's (a settings byte, a length n, n
// bytes, then the file), so that one seed corpus serves both. Besides no
// crash and no read or write outside a buffer: one code per problem, every
// region sorted and inside the package's reach, and a normalised image never
// longer than the image.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/pe_image.h"
#include "tools/pe/pe_rewrite.h"
#include "tools/packaging/package_reader.h"
#include "tools/packaging/program_check.h"
#include "tools/packaging/program_replay.h"
#include "tools/pe/branding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size < size_t(2) + data[1]) return 0;
  const host::ByteView file(data + 2 + data[1], size - 2 - data[1]);
  packaging::PackageView view = packaging::ReadPackage(file);
  // Decoding is bounded by the recorded sizes: keep the runs short.
  const launcher::PackageHeader& h = view.header;
  if (h.payload32.uncompressedSize <= (16u << 20) && h.payload64.uncompressedSize <= (16u << 20)) {
    packaging::CheckPrograms(file, &view);
  }
  if (view.problems.size() != view.problemCodes.size()) std::abort();
  for (size_t i = 1; i < view.regions.size(); ++i) {
    if (view.regions[i].start < view.regions[i - 1].start) std::abort();
  }
  std::string error;
  pe::ImageInfo info;
  if (pe::Parse(file, &info, &error) && info.imageEnd > file.size()) std::abort();
  std::string problem;
  pe::CheckProgram(file, pe::kMachineI386, &problem);
  // As a program being decoded is checked: from its head, grown as the
  // headers say.
  host::ByteView head = file.First(64);
  while (head.size() < file.size() && pe::HeadNeeded(head) > head.size()) {
    head = file.First(size_t(std::min<uint64_t>(pe::HeadNeeded(head), file.size())));
  }
  pe::CheckProgram(head, file.size(), pe::kMachineAmd64, &problem);
  // The identity check's steps, on the image part.
  const size_t cut = view.hasPackage && view.locator.headerOffset < file.size() ? view.locator.headerOffset : file.size();
  std::vector<uint8_t> image(file.begin(), file.begin() + cut);
  pe::WithoutBranding(&image, &error);
  pe::ClearSignatureAndChecksum(&image);
  pe::BrandingView branding;
  pe::ReadBranding(file, &branding, &error);
  std::vector<pe::IconImage> icons;
  if (pe::ParseIco(file, &icons, &problem)) {
    size_t total = 0;
    for (const pe::IconImage& i : icons) total += i.data.size();
    if (total > file.size()) std::abort();
  }
  return 0;
}
