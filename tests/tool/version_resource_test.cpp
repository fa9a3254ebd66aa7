// The version resource as build writes it and inspect reads it back, and the
// version numbers an author may give.
#include "tools/pe/version_resource.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(VersionResourceTest, VersionNumbers) {
  const struct {
    const char* text;
    bool ok;
    pe::VersionNumber number;
  } cases[] = {
      {"1", true, {1, 0, 0, 0}},           {"2.3.4.5", true, {2, 3, 4, 5}}, {"65535.0.1", true, {65535, 0, 1, 0}},
      {"1.2.3.4.5", false, {}},            {"1.65536", false, {}},          {"", false, {}},
      {"1..2", false, {}},                 {"v1", false, {}},               {"1.-2", false, {}},
  };
  for (const auto& c : cases) {
    pe::VersionNumber number{};
    std::string why;
    EXPECT_EQ(pe::ParseVersionNumber(c.text, &number, &why), c.ok) << c.text;
    if (c.ok) EXPECT_EQ(number, c.number) << c.text;
    if (!c.ok) EXPECT_FALSE(why.empty()) << c.text;
  }
  EXPECT_EQ(pe::VersionText({2, 3, 4, 5}), "2.3.4.5");
}

// What is written is read back as it was: the numbers and every string in
// its order, non-ASCII and empty ones too; strings past what a version
// block holds give no block at all.
TEST(VersionResourceTest, WrittenThenReadBack) {
  pe::VersionInfo info;
  info.fileVersion = {1, 2, 3, 4};
  info.productVersion = {5, 6, 7, 8};
  info.strings = {{"CompanyName", u"Contoso Ltd"}, {"LegalCopyright", u"\u00a9 Contoso \U0001F600"},
                  {"Comments", u""}, {"OriginalFilename", u"setup.exe"}};
  const std::vector<uint8_t> bytes = pe::VersionInfoBytes(info);
  ASSERT_FALSE(bytes.empty());
  pe::VersionInfo back;
  ASSERT_TRUE(pe::ReadVersionInfo(bytes, &back));
  EXPECT_EQ(back.fileVersion, info.fileVersion);
  EXPECT_EQ(back.productVersion, info.productVersion);
  EXPECT_EQ(back.strings, info.strings);
  ASSERT_NE(back.Find("LegalCopyright"), nullptr);
  EXPECT_EQ(back.Find("ProductName"), nullptr);

  info.strings = {{"FileDescription", std::u16string(40000, u'x')}};
  EXPECT_TRUE(pe::VersionInfoBytes(info).empty());
  EXPECT_FALSE(pe::ReadVersionInfo(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 20), &back));
}

}  // namespace
