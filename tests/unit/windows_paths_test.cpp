// Windows' path and cmd.exe syntax as the Windows tool gives it to the system.
#include "host/windows_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Long paths lift the 260-character limit in their extended form; UNC paths
// take theirs; what is already extended, or a device, stays.
TEST(WindowsPathsTest, ExtendedLengthForms) {
  const std::u16string deep = u"C:\\Users\\Пользователь\\" + std::u16string(300, u'a') + u"\\setup.exe";
  const struct {
    std::u16string full, extended;
  } cases[] = {
      {u"C:\\out\\pkg.exe", u"\\\\?\\C:\\out\\pkg.exe"},
      {deep, u"\\\\?\\" + deep},
      {u"\\\\server\\share\\dist\\pkg.exe", u"\\\\?\\UNC\\server\\share\\dist\\pkg.exe"},
      {u"\\\\?\\C:\\already", u"\\\\?\\C:\\already"},
      {u"\\\\?\\UNC\\server\\share", u"\\\\?\\UNC\\server\\share"},
      {u"\\\\.\\NUL", u"\\\\.\\NUL"},
  };
  for (const auto& c : cases) EXPECT_EQ(host::ExtendedLengthPath(c.full), c.extended);
}

// Both slash kinds, drives, roots and UNC paths; relative paths in a package
// file are put after the folder only when they are not absolute.
TEST(WindowsPathsTest, FoldersAndAbsolutePaths) {
  const struct {
    const char* path;
    const char* folder;
    bool absolute;
  } cases[] = {
      {"pkg.exe", ".", false},
      {"out\\pkg.exe", "out", false},
      {"out/sub\\pkg.exe", "out/sub", false},
      {"C:\\pkg.exe", "C:\\", true},
      {"C:/dist/pkg.exe", "C:/dist", true},
      {"C:pkg.exe", "C:", true},
      {"\\pkg.exe", "\\", true},
      {"\\\\server\\share\\pkg.exe", "\\\\server\\share", true},
      {"//server/share/pkg.exe", "//server/share", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(host::WindowsFolderOf(c.path), c.folder) << c.path;
    EXPECT_EQ(host::WindowsFileNameOf(c.path), "pkg.exe") << c.path;
    EXPECT_EQ(host::IsWindowsAbsolute(c.path), c.absolute) << c.path;
  }
}

// What cmd.exe would read otherwise: spaces and & ^ | end or change the
// command outside quotes, and %NAME% is expanded even inside them.
TEST(WindowsPathsTest, QuotedForCmd) {
  const struct {
    const char* path;
    const char* quoted;
  } cases[] = {
      {"C:\\plain\\pkg.exe", "\"C:\\plain\\pkg.exe\""},
      {"C:\\with space & more ^ | (x)\\pkg.exe", "\"C:\\with space & more ^ | (x)\\pkg.exe\""},
      {"C:\\100%PATH%\\pkg.exe", "\"C:\\100\"^%\"PATH\"^%\"\\pkg.exe\""},
      {"C:\\Пользователь\\セットアップ\\pkg.exe", "\"C:\\Пользователь\\セットアップ\\pkg.exe\""},
  };
  for (const auto& c : cases) EXPECT_EQ(host::QuotedForCmd(c.path), c.quoted) << c.path;
}

}  // namespace
