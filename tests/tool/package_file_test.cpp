// The package file as build reads it: each key's kind of value, paths
// relative to the file's own folder, unknown keys and bad values named with
// their line, and files as Windows editors save them (a byte order mark,
// CRLF line ends).
#include "tools/package_tool/package_file.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tools/package_tool/commands.h"

namespace {

class PackageFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/package-file-test-XXXXXX";
    dir_ = mkdtemp(name);
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  // Reads `text` as dir_/project/setup.toml.
  int Read(const std::string& text, tool::BuildSettings* settings, std::string* error) {
    std::system(("mkdir -p '" + dir_ + "/project'").c_str());
    std::ofstream(dir_ + "/project/setup.toml", std::ios::binary) << text;
    return tool::ReadPackageFile(dir_ + "/project/setup.toml", settings, error);
  }

  std::string dir_;
};

// Each kind of value as its option takes it, with a byte order mark and
// CRLF line ends; relative paths resolve against the file's folder, absolute
// ones stay as they are.
TEST_F(PackageFileTest, ValuesOfEachKind) {
  tool::BuildSettings s;
  std::string error;
  ASSERT_EQ(Read("\xef\xbb\xbfprogram32 = \"setup32.exe\"\r\n"
                 "program64 = \"/abs/setup64.exe\"\r\n"
                 "detached = true\r\n"
                 "lzma-preset = 9\r\n"
                 "versions = [\"Windows 7\", \"later\"]\r\n"
                 "crc-reach = 4096\r\n"
                 "product = \"\xc3\x9c" "berall\"\r\n",
                 &s, &error),
            tool::kExitFine)
      << error;
  EXPECT_EQ(s.program32, dir_ + "/project/setup32.exe");
  EXPECT_EQ(s.program64, "/abs/setup64.exe");
  EXPECT_EQ(s.detached, true);
  EXPECT_EQ(s.lzmaPreset, 9u);
  EXPECT_EQ(s.versions, "Windows 7,later");
  EXPECT_EQ(s.crcReach, "4096");
  EXPECT_EQ(s.product, "\xc3\x9c" "berall");
  EXPECT_FALSE(s.output.has_value()) << "what the file does not say stays unset";
}

// What is refused, with the file, the line and the key: exit status 2.
TEST_F(PackageFileTest, RefusalsNameTheLineAndKey) {
  const struct {
    const char* text;
    const char* said;
  } cases[] = {
      {"program32 = \"a.exe\"\n\nlaunchr = \"y\"\n", "setup.toml:3: launchr: unknown key"},
      {"detached = \"yes\"\n", "setup.toml:1: detached: takes true or false"},
      {"\r\nlzma-preset = 10\r\n", "setup.toml:2: lzma-preset: takes a whole number from 0 to 9"},
      {"lzma-preset = -1\n", "setup.toml:1: lzma-preset: takes a whole number from 0 to 9"},
      {"codepage = 437\n", "setup.toml:1: codepage: takes 1252 or 932"},
      {"product = 3\n", "setup.toml:1: product: takes a text"},
      {"versions = [7]\n", "setup.toml:1: versions: takes a list of version names"},
      {"program32 = \n", "setup.toml:1: "},
  };
  for (const auto& c : cases) {
    tool::BuildSettings s;
    std::string error;
    EXPECT_EQ(Read(c.text, &s, &error), tool::kExitUsage) << c.text;
    EXPECT_NE(error.find(c.said), std::string::npos) << c.text << "\n" << error;
  }
  tool::BuildSettings s;
  std::string error;
  EXPECT_EQ(tool::ReadPackageFile(dir_ + "/missing.toml", &s, &error), tool::kExitInputOutput);
}

}  // namespace
