// What belongs to the maker of a package inside the launcher image: the
// version resource (company, product, description, copyright, version
// numbers) and the icon group "MAINICON" with its images. The package tool
// writes them when it builds a package, reads them back for inspect, and
// leaves them out when it tells whether an image is the launcher it ships.
#ifndef TOOLS_PE_BRANDING_H_
#define TOOLS_PE_BRANDING_H_

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "host/bytes.h"
#include "host/pe_image.h"

namespace pe {

// A version as Windows keeps it: four numbers of 16 bits, the most
// significant first.
using VersionNumber = std::array<uint16_t, 4>;

// "A", "A.B", "A.B.C" or "A.B.C.D", each 0..65535, missing ones 0. False with
// what is wrong in *why.
bool ParseVersionNumber(const std::string& text, VersionNumber* out, std::string* why);
std::string VersionText(const VersionNumber& v);  // "A.B.C.D"

// A version resource: the fixed numbers and the strings of its string table,
// in the order they stand.
struct VersionInfo {
  VersionNumber fileVersion{}, productVersion{};
  std::vector<std::pair<std::string, std::u16string>> strings;
  // The string named `key`, or null.
  const std::u16string* Find(const std::string& key) const;
};
// False when `block` is no version resource this tool can read.
bool ReadVersionInfo(host::ByteView block, VersionInfo* out);
// The resource's bytes: one string table, 040904B0 (US English, Unicode), and
// the translation 0x409, 1200. Empty when the strings do not fit the 65535
// bytes a version block can hold.
std::vector<uint8_t> VersionInfoBytes(const VersionInfo& info);

// One image of an icon, as an .ico file and an icon group describe it.
struct IconImage {
  uint8_t width = 0, height = 0, colors = 0;  // 0 width or height: 256
  uint16_t planes = 0, bitCount = 0;
  bool png = false;
  std::vector<uint8_t> data;  // the image, byte for byte
};
constexpr size_t kIconFileLimit = size_t(4) << 20;
// The images of an .ico file, each checked: inside the file, no two
// overlapping, a PNG with its signature or a BMP whose header fits its size.
// False with the first problem found.
bool ParseIco(host::ByteView file, std::vector<IconImage>* images, std::string* problem);

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
