// The resource section as the tool writes it anew: the list it was made
// from read back, in the loader's order, and the same list giving the same
// bytes; the launcher's own resources replaced in its image.
#include "tools/pe/resource_section.h"

#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> Launcher() {
  std::ifstream in(std::string(WINDOWS_BUILD_DIR) + "/launcher.exe", std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool SameResource(const pe::Resource& a, const pe::Resource& b) {
  return a.type == b.type && a.id == b.id && a.name == b.name && a.language == b.language && a.data == b.data;
}

// The launcher's resources with one more of each kind (a name among ids, a
// second language) replace its own; read back, they are all there, and
// every other section keeps its bytes.
TEST(ResourceSectionTest, ReplacedAndReadBack) {
  std::vector<uint8_t> image = Launcher();
  pe::ImageInfo info;
  std::string error;
  ASSERT_TRUE(pe::Parse(image, &info, &error)) << error;
  std::vector<pe::Resource> resources;
  ASSERT_TRUE(pe::ListResources(image, info, &resources, &error)) << error;
  ASSERT_FALSE(resources.empty());
  resources.push_back({pe::kResourceVersion, 2, "", 0x407, {1, 2, 3}});
  resources.push_back({10, 0, "CUSTOM", 0x409, std::vector<uint8_t>(5000, 0x5A)});
  const std::vector<uint8_t> original = image;
  ASSERT_TRUE(pe::ReplaceResources(&image, resources, &error)) << error;

  pe::ImageInfo replaced;
  ASSERT_TRUE(pe::Parse(image, &replaced, &error)) << error;
  std::vector<pe::Resource> back;
  ASSERT_TRUE(pe::ListResources(image, replaced, &back, &error)) << error;
  ASSERT_EQ(back.size(), resources.size());
  for (const pe::Resource& r : resources) {
    bool found = false;
    for (const pe::Resource& b : back) found = found || SameResource(r, b);
    EXPECT_TRUE(found) << "type " << r.type << " id " << r.id << " " << r.name;
  }
  for (const pe::Section& s : info.sections) {
    if (s.name == ".rsrc" || s.name == ".reloc") continue;
    EXPECT_TRUE(std::equal(original.begin() + s.rawPointer, original.begin() + s.rawPointer + s.rawSize,
                           image.begin() + s.rawPointer))
        << s.name;
  }
}

// A file alignment Windows would not take is refused before it pads the
// section to its size (a hostile one made images of hundreds of MiB).
TEST(ResourceSectionTest, AFileAlignmentWindowsRefusesIsRefused) {
  for (const uint32_t alignment : {0x24C00000u, 0x300u, 256u}) {
    std::vector<uint8_t> image = Launcher();
    const uint32_t oh = host::Le32(image, 60) + 24;
    host::PutLe32(&image, oh + 36, alignment);
    pe::ImageInfo info;
    std::string error;
    ASSERT_TRUE(pe::Parse(image, &info, &error)) << error;
    std::vector<pe::Resource> resources;
    ASSERT_TRUE(pe::ListResources(image, info, &resources, &error)) << error;
    EXPECT_FALSE(pe::ReplaceResources(&image, resources, &error)) << alignment;
    EXPECT_NE(error.find("FileAlignment " + std::to_string(alignment)), std::string::npos) << error;
    EXPECT_LE(image.size(), Launcher().size());
  }
}

// The same list gives the same bytes, whatever order it comes in; named
// entries stand before ids in each directory.
TEST(ResourceSectionTest, TheSameListGivesTheSameBytes) {
  const std::vector<pe::Resource> list = {{pe::kResourceIcon, 2, "", 0x409, {1}},
                                          {pe::kResourceIcon, 1, "", 0x409, {2}},
                                          {pe::kResourceGroupIcon, 0, "MAINICON", 0x409, {3}},
                                          {pe::kResourceGroupIcon, 7, "", 0x409, {4}}};
  const std::vector<pe::Resource> reversed(list.rbegin(), list.rend());
  const std::vector<uint8_t> bytes = pe::ResourceSectionBytes(list, 0x5000);
  EXPECT_EQ(bytes, pe::ResourceSectionBytes(reversed, 0x5000));
  EXPECT_NE(bytes, pe::ResourceSectionBytes(list, 0x6000)) << "data entries hold addresses";
}

}  // namespace
