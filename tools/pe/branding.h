// What belongs to the maker of a package inside the launcher image: the
// version resource (company, product, description, copyright, version
// numbers) and the icon group "MAINICON" with its images. The package tool
// writes them when it builds a package, reads them back for inspect, and
// leaves them out when it tells whether an image is the launcher it ships.
#ifndef TOOLS_PE_BRANDING_H_
#define TOOLS_PE_BRANDING_H_

#include <optional>
#include <string>
#include <vector>

#include "host/bytes.h"
#include "host/pe_image.h"
#include "tools/pe/icon_file.h"
#include "tools/pe/version_resource.h"

namespace pe {

// What a package's maker gives; what is not given stays as the image has it.
struct Branding {
  std::optional<std::u16string> company, product, description, copyright;
  std::optional<VersionNumber> productVersion, fileVersion;  // file version: the product version by default
  std::optional<std::vector<IconImage>> icon;
  std::u16string originalFilename;  // the package's own file name
};
// Writes a new version resource (always, with every string) and, with an
// icon, replaces the images of "MAINICON". False with a reason (`tooLong`
// set when the strings do not fit a version block).
bool Brand(std::vector<uint8_t>* image, const Branding& branding, std::string* error, bool* tooLong = nullptr);

// The image as it is without its maker's part (no version resource, no
// "MAINICON" and none of its images), its resources written the way Brand
// writes them: two images that differ only in branding give the same bytes.
bool WithoutBranding(std::vector<uint8_t>* image, std::string* error);

// The maker's part as inspect shows it.
struct BrandingView {
  bool hasVersion = false;
  VersionInfo version;
  std::vector<IconImage> icons;  // the images of "MAINICON", in group order
};
bool ReadBranding(host::ByteView image, BrandingView* out, std::string* error);

}  // namespace pe

#endif  // TOOLS_PE_BRANDING_H_
