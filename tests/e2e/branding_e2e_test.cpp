// Packages that carry their maker's file properties and icon, made by
// setup-package itself: they run as a plain package does, Windows' own
// functions read the strings and icons back, and one signed inside build
// runs too.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "tests/e2e/wine_harness.h"

namespace {

const std::string kTool = SETUP_PACKAGE;

// Builds the sample package with the maker's part (and `more` options) in a
// folder of its own; empty when the tool fails (the tests below then fail).
packaging::Bytes Branded(const std::string& name, const std::string& more) {
  const std::string dir = std::string(E2E_WORK_DIR) + "/branding-" + name;
  const std::string build = std::string(WINDOWS_BUILD_DIR);
  std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
  const std::string command =
      "cd '" + dir + "' && " + kTool + " build -q --launcher " + build + "/launcher.exe --program32 " + build +
      "/sample_setup32.exe --company 'Contoso Ltd' --product 'Contoso Suite' --product-version 2.3.4.5 --icon " +
      EXAMPLE_ICON + " --output setup.exe " + more;
  if (std::system(command.c_str()) != 0) return {};
  std::ifstream in(dir + "/setup.exe", std::ios::binary);
  return packaging::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

packaging::Bytes VersionReader() {
  std::ifstream in(std::string(WINDOWS_BUILD_DIR) + "/version_reader.exe", std::ios::binary);
  return packaging::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

WINE_CASE(branded_package) {
  c.package = Branded("plain", "");
  c.files["version_reader.exe"] = VersionReader();
  c.after = "WINEDEBUG=-all wine ./version_reader.exe setup.exe >version.txt 2>/dev/null";
}

WINE_CASE(branded_signed_package) {
  c.package = Branded("signed",
                      "--sign-command \"openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem "
                      "-days 30 -subj /CN=Contoso >/dev/null 2>&1 && osslsigncode sign -certs cert.pem -key key.pem "
                      "-n 'Contoso Suite' -in {in} -out {out}\"");
}

TEST(WineBranding, BrandedAndSignedPackagesRun) {
  for (const char* name : {"branded_package", "branded_signed_package"}) {
    const e2e::WineCase& r = e2e::Result(name);
    ASSERT_FALSE(r.package.empty()) << name << ": the tool did not build it";
    EXPECT_EQ(r.exitCode, 0) << name;
    EXPECT_TRUE(r.boxes.empty()) << name << ": " << (r.boxes.empty() ? "" : r.boxes[0].text);
    EXPECT_TRUE(r.HasFile("setup.exe.received.txt")) << name;
    EXPECT_EQ(r.ReadFile("temp-after.txt"), "") << name;
  }
}

TEST(WineBranding, WindowsReadsTheStringsAndIconsBack) {
  std::string found = e2e::Result("branded_package").ReadFile("version.txt");
  found.erase(std::remove(found.begin(), found.end(), '\r'), found.end());  // text mode: CR LF
  for (const char* line : {"CompanyName=Contoso Ltd\n", "ProductName=Contoso Suite\n", "ProductVersion=2.3.4.5\n",
                           "FileVersion=2.3.4.5\n", "OriginalFilename=setup.exe\n", "fixed=2.3.4.5\n", "icons=1\n",
                           "large=32x32\n", "small=16x16\n"}) {
    EXPECT_NE(found.find(line), std::string::npos) << line << "in:\n" << found;
  }
}

}  // namespace
