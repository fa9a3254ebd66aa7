// .ico files, read as the images an icon group of a PE image holds.
#ifndef TOOLS_PE_ICON_FILE_H_
#define TOOLS_PE_ICON_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/bytes.h"

namespace pe {

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

// Whether an image is a PNG (by its signature), not a bitmap.
bool IsPng(host::ByteView image);

}  // namespace pe

#endif  // TOOLS_PE_ICON_FILE_H_
