// Checks of the built launcher.exe itself: PE fields, the room for the
// package locator, the manifest, icon and version resources, the imports.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "host/pe_image.h"
#include "tools/pe/pe_rewrite.h"
#include "tools/pe/resource_section.h"

namespace {

uint32_t U32(host::ByteView b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// The NUL-terminated name at `rva`, or false when it does not lie in the file.
bool NameAt(host::ByteView b, const pe::ImageInfo& info, uint32_t rva, std::string* name) {
  const uint32_t at = pe::RvaToOffset(info, rva);
  if (at == 0 || at >= b.size()) return false;
  const void* end = std::memchr(&b[at], 0, b.size() - at);
  if (end == nullptr) return false;
  name->assign(reinterpret_cast<const char*>(&b[at]), static_cast<const uint8_t*>(end) - &b[at]);
  return true;
}

// Walks a table of `entrySize`-byte descriptors that ends with an all-zero
// one, taking the DLL name RVA at `nameField` of each.
bool DllNames(host::ByteView b, const pe::ImageInfo& info, uint32_t rva, uint32_t entrySize,
              uint32_t nameField, std::vector<std::string>* dlls, std::string* error) {
  if (rva == 0) return true;
  uint32_t at = pe::RvaToOffset(info, rva);
  if (at == 0) return *error = "import table outside every section", false;
  for (;; at += entrySize) {
    if (at + entrySize > b.size()) return *error = "import table runs past the end of the file", false;
    bool zero = true;
    for (uint32_t i = 0; i < entrySize; ++i) zero = zero && b[at + i] == 0;
    if (zero) return true;
    std::string name;
    if (!NameAt(b, info, U32(b, at + nameField), &name)) return *error = "import name outside the file", false;
    dlls->push_back(name);
  }
}

// The DLL names of the import table and of the delay-load import table, in
// table order; false with a reason when a table does not lie in the file.
bool ImportedDlls(host::ByteView image, const pe::ImageInfo& info,
                  std::vector<std::string>* dlls, std::string* error) {
  dlls->clear();
  // IMAGE_IMPORT_DESCRIPTOR: 20 bytes, the name RVA at 12.
  // ImgDelayDescr: 32 bytes, the name RVA at 4.
  return DllNames(image, info, info.importRva, 20, 12, dlls, error) &&
         DllNames(image, info, info.delayImportRva, 32, 4, dlls, error);
}

std::vector<uint8_t> Image() {
  std::ifstream in(std::string(WINDOWS_BUILD_DIR) + "/launcher.exe", std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool Contains(const std::vector<uint8_t>& image, const std::string& text) {
  return std::search(image.begin(), image.end(), text.begin(), text.end()) != image.end();
}

bool ContainsWide(const std::vector<uint8_t>& image, const std::string& text) {
  std::string wide;
  for (char c : text) {
    wide += c;
    wide += '\0';
  }
  return Contains(image, wide);
}

TEST(ImageTest, HeadersAndLocatorRoom) {
  const std::vector<uint8_t> image = Image();
  ASSERT_GT(image.size(), 4096u);
  pe::ImageInfo info;
  std::string error;
  ASSERT_TRUE(pe::Parse(image, &info, &error)) << error;
  EXPECT_EQ(info.peOffset, 0x100u);
  EXPECT_EQ(info.machine, pe::kMachineI386);
  EXPECT_EQ(info.optionalMagic, pe::kOptionalMagicPe32);
  EXPECT_EQ(info.subsystem, pe::kSubsystemWindowsGui);
  EXPECT_EQ(info.majorSubsystemVersion, 4);
  EXPECT_EQ(info.minorSubsystemVersion, 0);
  EXPECT_TRUE(info.characteristics & pe::kLargeAddressAware);
  EXPECT_EQ(info.timeDateStamp, 0u) << "no link timestamp: builds are reproducible";
  EXPECT_EQ(info.checkSum, pe::Checksum(image, info.checkSumOffset));
  const std::string stub(image.begin() + 64, image.begin() + 128);
  const size_t message = stub.find("This program must be run under Win32");
  ASSERT_NE(message, std::string::npos);
  EXPECT_LT(64 + message + 36, 128u);
  for (size_t i = 128; i < 256; ++i) ASSERT_EQ(image[i], 0) << "offset " << i;
  EXPECT_EQ(info.imageEnd, image.size()) << "nothing after the last section";
}

// Read from the resource directory as Windows reads it: the manifest is
// type 24, id 1, language 1033; the icon group is named MAINICON and its
// icons exist; the version resource carries the strings.
TEST(ImageTest, ManifestIconAndVersionResources) {
  const std::vector<uint8_t> image = Image();
  pe::ImageInfo info;
  std::string error;
  ASSERT_TRUE(pe::Parse(image, &info, &error)) << error;
  std::vector<pe::Resource> resources;
  ASSERT_TRUE(pe::ListResources(image, info, &resources, &error)) << error;
  auto find = [&](uint32_t type, uint32_t id, const std::string& name) -> const pe::Resource* {
    for (const pe::Resource& r : resources) {
      if (r.type == type && r.id == id && r.name == name) return &r;
    }
    return nullptr;
  };
  const pe::Resource* manifest = find(pe::kResourceManifest, 1, "");
  ASSERT_NE(manifest, nullptr);
  EXPECT_EQ(manifest->language, 1033u);
  const std::vector<uint8_t>& text = manifest->data;
  for (const char* setting :
       {"level=\"asInvoker\"", "uiAccess=\"false\"", "{e2011457-1546-43c5-a5fe-008deee3d3f0}",
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
        ">true</dpiAware>", "<description>"}) {
    EXPECT_TRUE(Contains(text, setting)) << setting;
  }
  const pe::Resource* group = find(pe::kResourceGroupIcon, 0, "MAINICON");
  ASSERT_NE(group, nullptr) << "an icon group named MAINICON";
  // GRPICONDIR: reserved, type 1, count; then 14-byte entries ending in the icon's id.
  ASSERT_GE(group->data.size(), 6u);
  const uint16_t count = uint16_t(group->data[4] | group->data[5] << 8);
  EXPECT_EQ(count, 3u) << "16, 32 and 48 pixels";
  ASSERT_EQ(group->data.size(), 6u + 14u * count);
  for (uint16_t i = 0; i < count; ++i) {
    const size_t at = 6 + 14 * i;
    const uint32_t id = uint32_t(group->data[at + 12] | group->data[at + 13] << 8);
    EXPECT_NE(find(pe::kResourceIcon, id, ""), nullptr) << "icon " << id;
  }
  bool version = false;
  for (const pe::Resource& r : resources) {
    if (r.type != pe::kResourceVersion) continue;
    version = true;
    EXPECT_TRUE(ContainsWide(r.data, "CompanyName"));
    EXPECT_TRUE(ContainsWide(r.data, "ProductVersion"));
  }
  EXPECT_TRUE(version);
}

// Windows searches the application's folder first for every DLL that is not
// one of its known DLLs, and installers run from download folders: the image
// may import only from known DLLs (anything else is loaded at run time from
// the system folder).
TEST(ImageTest, ImportsOnlyKnownDlls) {
  pe::ImageInfo info;
  std::string error;
  ASSERT_TRUE(pe::Parse(Image(), &info, &error)) << error;
  std::vector<std::string> dlls;
  ASSERT_TRUE(ImportedDlls(Image(), info, &dlls, &error)) << error;
  const std::set<std::string> known = {"KERNEL32.DLL", "USER32.DLL", "ADVAPI32.DLL", "SHELL32.DLL",
                                       "MSVCRT.DLL"};
  EXPECT_FALSE(dlls.empty());
  std::set<std::string> seen;
  for (std::string dll : dlls) {
    for (char& c : dll) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(known.count(dll)) << dll << " is not a known DLL";
    seen.insert(dll);
  }
  EXPECT_TRUE(seen.count("KERNEL32.DLL")) << "the table was read";
}

TEST(ImageTest, SizeWithinBudget) {
  EXPECT_LE(Image().size(), std::size_t(LAUNCHER_IMAGE_BUDGET));
}

}  // namespace
