// Reading .ico files into icon images.
#include "tools/pe/icon_file.h"

#include <algorithm>
#include <cstring>

namespace pe {

namespace {

const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

}  // namespace

bool ParseIco(host::ByteView file, std::vector<IconImage>* images, std::string* problem) {
  images->clear();
  if (file.size() > kIconFileLimit) {
    return *problem = std::to_string(file.size()) + " bytes, more than the " + std::to_string(kIconFileLimit >> 20) +
                      " MiB an icon may have", false;
  }
  if (file.size() < 6 || host::Le16(file, 0) != 0 || host::Le16(file, 2) != 1) return *problem = "not an .ico file", false;
  const size_t count = host::Le16(file, 4);
  if (count == 0) return *problem = "an .ico file with no images", false;
  const size_t directoryEnd = 6 + 16 * count;
  if (directoryEnd > file.size()) return *problem = "its list of images runs past the end of the file", false;
  std::vector<std::pair<size_t, size_t>> spans;
  for (size_t i = 0; i < count; ++i) {
    const size_t e = 6 + 16 * i;
    const std::string which = "image " + std::to_string(i + 1) + " ";
    const size_t size = host::Le32(file, e + 8), offset = host::Le32(file, e + 12);
    if (size != 0 && offset < directoryEnd) return *problem = which + "lies inside the list of images", false;
    if (size == 0 || offset > file.size() || size > file.size() - offset) {
      return *problem = which + "lies outside the file", false;
    }
    spans.emplace_back(offset, offset + size);
    IconImage image;
    image.width = file[e];
    image.height = file[e + 1];
    image.colors = file[e + 2];
    image.planes = host::Le16(file, e + 4);
    image.bitCount = host::Le16(file, e + 6);
    const host::ByteView data(file.data() + offset, size);
    if (IsPng(data)) {
      image.png = true;
    } else if (size >= 40 && (host::Le32(data, 0) == 40 || host::Le32(data, 0) == 108 || host::Le32(data, 0) == 124)) {
      // BITMAPINFOHEADER: the colour bitmap and the mask, each row on a
      // 4-byte boundary, the height counting both.
      const int32_t width = int32_t(host::Le32(data, 4)), height = int32_t(host::Le32(data, 8));
      const uint32_t bits = host::Le16(data, 14), used = host::Le32(data, 32);
      if (width <= 0 || width > 1024 || height <= 0 || height > 2048 || host::Le16(data, 12) != 1 ||
          (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) ||
          used > (bits <= 8 ? (1u << bits) : 256u)) {
        return *problem = which + "has a bitmap header that no icon has", false;
      }
      const uint64_t rows = uint64_t(height) / 2;
      const uint64_t palette = 4ull * (used != 0 ? used : bits <= 8 ? (1u << bits) : 0);
      const uint64_t needed = host::Le32(data, 0) + palette + rows * ((uint64_t(width) * bits + 31) / 32 * 4) +
                              rows * ((uint64_t(width) + 31) / 32 * 4);
      if (needed > size) {
        return *problem = which + "is a bitmap whose header needs " + std::to_string(needed) + " bytes, but it has " +
                          std::to_string(size), false;
      }
    } else {
      return *problem = which + "is neither a PNG (no PNG signature) nor a bitmap", false;
    }
    image.data = data.ToBytes();
    images->push_back(std::move(image));
  }
  std::sort(spans.begin(), spans.end());
  for (size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].first < spans[i - 1].second) return *problem = "two of its images overlap", false;
  }
  return true;
}

bool IsPng(host::ByteView image) { return image.size() >= 8 && std::memcmp(image.data(), kPngSignature, 8) == 0; }

}  // namespace pe
