// A package signed after it was built (the signature lies after the recorded
// end) still runs; one built with --sign-programs runs a signed temporary
// copy.
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "tests/e2e/wine_harness.h"

namespace {

WINE_CASE(signed_package) {
  const std::string dir = std::string(E2E_WORK_DIR) + "/signing";
  std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
  const packaging::Bytes package = e2e::BuildOrDie(e2e::SamplePackageInput());
  std::ofstream(dir + "/setup.exe", std::ios::binary)
      .write(reinterpret_cast<const char*>(package.data()), static_cast<std::streamsize>(package.size()));
  const std::string sign =
      "cd '" + dir + "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 30"
      " -subj '/CN=Example Software' >/dev/null 2>&1 && osslsigncode sign -certs cert.pem -key key.pem"
      " -n 'Example Setup' -in setup.exe -out signed.exe >/dev/null 2>&1";
  if (std::system(sign.c_str()) != 0) return;  // the test below fails on the empty package
  std::ifstream in(dir + "/signed.exe", std::ios::binary);
  c.package.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  c.exeName = "signed.exe";
}

TEST(WineSigned, SignedPackageRuns) {
  const e2e::WineCase& r = e2e::Result("signed_package");
  ASSERT_GT(r.package.size(), e2e::LauncherImage().size()) << "signing failed";
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.boxes.empty()) << (r.boxes.empty() ? "" : r.boxes[0].text);
  EXPECT_TRUE(r.HasFile("signed.exe.received.txt"));
  EXPECT_EQ(r.ReadFile("temp-after.txt"), "");
}

// Signed programs inside, detached: the temporary copy that stays behind
// is the signed program.
WINE_CASE(signed_programs) {
  const std::string dir = std::string(E2E_WORK_DIR) + "/signing-programs";
  const std::string windows = WINDOWS_BUILD_DIR;
  const std::string sign = "cd '" + dir + "' && { [ -f key.pem ] || openssl req -x509 -newkey rsa:2048 -nodes -keyout "
                           "key.pem -out cert.pem -days 30 -subj /CN=Example >/dev/null 2>&1; } && osslsigncode sign "
                           "-certs cert.pem -key key.pem -in {in} -out {out} >/dev/null";
  const std::string build = "rm -rf '" + dir + "' && mkdir -p '" + dir + "' && " + SETUP_PACKAGE +
                            " build -q --launcher " + windows + "/launcher.exe --program32 " + windows +
                            "/sample_setup32.exe --program64 " + windows + "/sample_setup64.exe --detached " +
                            "--sign-programs --sign-command \"" + sign + "\" --output '" + dir + "/programs.exe'";
  if (std::system(build.c_str()) != 0) return;  // the test below fails on the empty package
  std::ifstream in(dir + "/programs.exe", std::ios::binary);
  c.package.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  c.exeName = "programs.exe";
  c.after = "sleep 3; cp \"$TEMPDIR/programs.exe\" copy.exe; rm -f \"$TEMPDIR/programs.exe\"";
}

TEST(WineSigned, SignedProgramsMakeASignedTemporaryCopy) {
  const e2e::WineCase& r = e2e::Result("signed_programs");
  ASSERT_FALSE(r.package.empty()) << "build --sign-programs failed";
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.HasFile("programs.exe.received.txt"));
  ASSERT_TRUE(r.HasFile("copy.exe"));
  EXPECT_EQ(std::system(("osslsigncode verify -CAfile '" + std::string(E2E_WORK_DIR) + "/signing-programs/cert.pem' -in '" + r.folder +
                         "/copy.exe' >/dev/null 2>&1").c_str()), 0);
}

}  // namespace
