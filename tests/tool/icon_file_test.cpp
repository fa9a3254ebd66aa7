// .ico files as build takes them: each image read byte for byte, and each way
// a file can be unfit refused with its reason.
#include "tools/pe/icon_file.h"

#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

namespace {

std::string ExampleIcon() {
  std::ifstream in(EXAMPLE_ICON, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

uint32_t Le32(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8 | uint8_t(b[at + 2]) << 16) |
         uint32_t(uint8_t(b[at + 3])) << 24;
}

bool Parse(const std::string& bytes, std::vector<pe::IconImage>* images, std::string* problem) {
  return pe::ParseIco(host::ByteView(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), images, problem);
}

// The example's three images (two bitmaps and a PNG), where its directory
// says they are.
TEST(IconFileTest, ReadsEveryImageWhole) {
  const std::string icon = ExampleIcon();
  std::vector<pe::IconImage> images;
  std::string problem;
  ASSERT_TRUE(Parse(icon, &images, &problem)) << problem;
  ASSERT_EQ(images.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const std::string image = icon.substr(Le32(icon, 6 + 16 * i + 12), Le32(icon, 6 + 16 * i + 8));
    EXPECT_EQ(std::string(images[i].data.begin(), images[i].data.end()), image) << i;
    EXPECT_EQ(images[i].png, i == 2) << i;
  }
}

// Each unfit file, with the words of its reason.
TEST(IconFileTest, UnfitFilesAreRefused) {
  const std::string icon = ExampleIcon();
  auto patched = [&](size_t at, std::string bytes) { std::string c = icon; c.replace(at, bytes.size(), bytes); return c; };
  const size_t png = Le32(icon, 6 + 32 + 12);  // the third image is the PNG
  const std::pair<std::string, std::string> cases[] = {
      {"not an .ico file", "BM" + icon.substr(2)},
      {"no images", patched(4, std::string(2, '\0'))},
      {"list of images runs past", icon.substr(0, 40)},
      {"overlap", patched(6 + 16 + 12, icon.substr(6 + 12, 4))},
      {"header needs", patched(6 + 8, std::string("\x40\0\0\0", 4))},
      {"no PNG signature", patched(png + 1, "Q")},
      {"more than the 4 MiB", icon + std::string(4 << 20, '\0')},
      // An image whose offset lies inside the file's own directory.
      {"lies inside the list of images", patched(6 + 12, std::string("\x08\0\0\0", 4))},
      {"lies outside the file", patched(6 + 12, std::string("\xff\xff\0\0", 4))},
  };
  for (const auto& [says, bytes] : cases) {
    std::vector<pe::IconImage> images;
    std::string problem;
    EXPECT_FALSE(Parse(bytes, &images, &problem)) << says;
    EXPECT_NE(problem.find(says), std::string::npos) << says << ": " << problem;
  }
}

}  // namespace
