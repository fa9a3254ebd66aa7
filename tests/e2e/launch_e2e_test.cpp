// The real launcher under Wine doing its whole job: payload choice, version
// check, temporary copy, setup start, wait and clean-up.
//
// Wine versions reached here (Wine 8, set per executable under AppDefaults):
// win98 (4.10, platform 1), win2k (5.0), winxp (5.1), vista (6.0), win7
// (6.1), win8 (6.2), win81 (6.3) and win10 (10.0); 8.1 and 10 are reported
// only because the launcher's manifest declares them. Wine's user counts as
// an administrator, so the direct start is what runs here; the shell start
// is covered on the simulated machine.
#include <gtest/gtest.h>

#include "launcher/fatal.h"
#include "tests/e2e/wine_harness.h"

namespace {

using e2e::Result;
using e2e::WineCase;

const char kArchitectureMessage[] = "This package is not for this kind of Windows.";
const char kVersionMessage[] = "This package does not run on %USER%.";

packaging::PackageInput Input() {
  packaging::PackageInput input = e2e::SamplePackageInput();
  input.architectureMessage = std::u16string(kArchitectureMessage, kArchitectureMessage + sizeof kArchitectureMessage - 1);
  input.versionMessage = std::u16string(kVersionMessage, kVersionMessage + sizeof kVersionMessage - 1);
  return input;
}

packaging::PackageInput BothPayloads() {
  packaging::PackageInput input = Input();
  input.program64 = e2e::SampleSetup64();
  return input;
}

// What the sample setup program wrote, one "key: value" line per fact.
std::string Reported(const WineCase& r, const std::string& key) {
  const std::string report = r.ReadFile(r.exeName + ".received.txt");
  const std::string prefix = key + ": ";
  size_t at = report.find("\n" + prefix);
  if (report.compare(0, prefix.size(), prefix) == 0) at = 0;
  else if (at != std::string::npos) at += 1;
  else return "(not reported)";
  const size_t end = report.find('\n', at);
  return report.substr(at + prefix.size(), end - at - prefix.size());
}

std::string Folder(const WineCase& r) { return r.windowsFolder + "\\"; }

WINE_CASE(arguments) {
  c.package = e2e::BuildOrDie(Input());
  c.arguments = "/s 'with blank' \"$(printf 'tab\\there')\" plain";
}

TEST(WineLaunch, SetupProgramReceivesThePackagePathAndEveryArgument) {
  const WineCase& r = Result("arguments");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.boxes.empty());
  EXPECT_EQ(Reported(r, "command line"),
            "\"" + r.tempFolder + "\\setup.exe\" \"" + Folder(r) + "setup.exe\" /s \"with blank\" tab\there plain");
  EXPECT_EQ(Reported(r, "argv[1]"), Folder(r) + "setup.exe");
  EXPECT_EQ(Reported(r, "argv[3]"), "with blank");
  EXPECT_EQ(Reported(r, "current folder"), r.windowsFolder);
  EXPECT_EQ(Reported(r, "module"), r.tempFolder + "\\setup.exe");
  EXPECT_EQ(Reported(r, "package opened exclusively"), "yes") << "the launcher closed its own file";
  EXPECT_EQ(r.ReadFile("temp-after.txt"), "") << "the copy is deleted after the setup program ended";
}

WINE_CASE(two_payloads_64bit_windows) { c.package = e2e::BuildOrDie(BothPayloads()); }
WINE_CASE(two_payloads_64bit_windows_with_32) {
  c.package = e2e::BuildOrDie(BothPayloads());
  c.arguments = "/32";
}
WINE_CASE(two_payloads_32bit_windows) {
  c.package = e2e::BuildOrDie(BothPayloads());
  c.prefix = "win32";
}
WINE_CASE(not_for_64bit_on_64bit_windows) {
  packaging::PackageInput input = Input();
  input.notFor64BitWindows = true;
  c.package = e2e::BuildOrDie(input);
  c.arguments = "/32";
}
WINE_CASE(not_for_64bit_on_32bit_windows) {
  packaging::PackageInput input = Input();
  input.notFor64BitWindows = true;
  c.package = e2e::BuildOrDie(input);
  c.prefix = "win32";
}
packaging::Bytes Only64BitPackage() {
  packaging::PackageInput input = Input();
  input.program32.reset();
  input.program64 = e2e::SampleSetup64();
  return e2e::BuildOrDie(input);
}
WINE_CASE(only_64bit_on_32bit_windows) {
  c.package = Only64BitPackage();
  c.prefix = "win32";
}
WINE_CASE(only_64bit_on_64bit_windows) { c.package = Only64BitPackage(); }

TEST(WineLaunch, PayloadFitsTheArchitecture) {
  EXPECT_EQ(Reported(Result("two_payloads_64bit_windows"), "bits"), "64");
  EXPECT_EQ(Reported(Result("two_payloads_64bit_windows_with_32"), "bits"), "32");
  EXPECT_EQ(Reported(Result("two_payloads_32bit_windows"), "bits"), "32");
  EXPECT_EQ(Reported(Result("not_for_64bit_on_32bit_windows"), "bits"), "32");
  EXPECT_EQ(Reported(Result("only_64bit_on_64bit_windows"), "bits"), "64");
  for (const char* name : {"not_for_64bit_on_64bit_windows", "only_64bit_on_32bit_windows"}) {
    const WineCase& r = Result(name);
    EXPECT_EQ(r.exitCode, 0);
    ASSERT_EQ(r.boxes.size(), 1u) << name;
    EXPECT_EQ(r.boxes[0].text, kArchitectureMessage);
    EXPECT_EQ(r.boxes[0].flags, 0x10u);
    EXPECT_FALSE(r.HasFile("setup.exe.received.txt"));
  }
}

// A package that refuses the version Wine reports, and one that allows it.
struct VersionCase {
  const char* wine;
  const char* name;
  int bit;
};
const VersionCase kVersions[] = {
    {"win98", "Windows 98", 1}, {"win2k", "Windows 2000", 4}, {"winxp", "Windows XP", 5},
    {"vista", "Windows Vista", 6}, {"win7", "Windows 7", 7}, {"win8", "Windows 8", 8},
    {"win81", "Windows 8.1", 9},   {"win10", "Windows 10", 10},
};

void VersionCaseFor(WineCase& c, int index, bool allow) {
  const VersionCase& v = kVersions[index];
  packaging::PackageInput input = Input();
  input.allowedVersions = allow ? (uint64_t(1) << v.bit) : ~(uint64_t(1) << v.bit);
  c.package = e2e::BuildOrDie(input);
  c.windowsVersion = v.wine;
  c.exeName = std::string(allow ? "allow-" : "refuse-") + v.wine + ".exe";
}

#define VERSION_CASES(i, wine)                                        \
  WINE_CASE(refuse_##wine) { VersionCaseFor(c, i, false); }           \
  WINE_CASE(allow_##wine) { VersionCaseFor(c, i, true); }
VERSION_CASES(0, win98)
VERSION_CASES(1, win2k)
VERSION_CASES(2, winxp)
VERSION_CASES(3, vista)
VERSION_CASES(4, win7)
VERSION_CASES(5, win8)
VERSION_CASES(6, win81)
VERSION_CASES(7, win10)

TEST(WineLaunch, VersionMessageNamesTheReportedVersion) {
  for (const VersionCase& v : kVersions) {
    const WineCase& refused = Result(std::string("refuse_") + v.wine);
    ASSERT_EQ(refused.boxes.size(), 1u) << v.wine;
    EXPECT_EQ(refused.boxes[0].text, std::string("This package does not run on ") + v.name + ".") << v.wine;
    EXPECT_EQ(refused.exitCode, 0);
    const WineCase& allowed = Result(std::string("allow_") + v.wine);
    EXPECT_TRUE(allowed.boxes.empty()) << v.wine << ": " << (allowed.boxes.empty() ? "" : allowed.boxes[0].text);
    EXPECT_EQ(Reported(allowed, "bits"), "32") << v.wine;
  }
}

WINE_CASE(copy_beside_an_existing_file) {
  c.package = e2e::BuildOrDie(Input());
  c.exeName = "numbered.exe";
  c.before = "touch \"$TEMPDIR/numbered.exe\"";
  c.after = "ls -1 \"$TEMPDIR\" > temp-during.txt; rm -f \"$TEMPDIR/numbered.exe\"";
}
WINE_CASE(temp_as_last_argument) {
  c.package = e2e::BuildOrDie(Input());
  c.arguments = "/TEMP";
  c.after = "ls -1 > folder-after.txt";
}
WINE_CASE(temp_with_a_folder) {
  c.package = e2e::BuildOrDie(Input());
  c.before = "mkdir -p sub";
  c.arguments = "/temp \"$JOB_WINDOWS\\temp_with_a_folder\\sub\"";
}
WINE_CASE(temp_with_a_missing_folder) {
  c.package = e2e::BuildOrDie(Input());
  c.arguments = "/temp \"$JOB_WINDOWS\\temp_with_a_missing_folder\\missing\"";
}

TEST(WineLaunch, TemporaryCopyPlaces) {
  const WineCase& numbered = Result("copy_beside_an_existing_file");
  EXPECT_EQ(Reported(numbered, "module"), numbered.tempFolder + "\\numbered2.exe");
  EXPECT_EQ(numbered.ReadFile("temp-during.txt"), "numbered.exe\n") << "numbered2.exe deleted";

  const WineCase& last = Result("temp_as_last_argument");
  EXPECT_EQ(Reported(last, "module"), Folder(last) + "setup2.exe");
  EXPECT_EQ(last.ReadFile("folder-after.txt").find("setup2.exe"), std::string::npos);

  const WineCase& folder = Result("temp_with_a_folder");
  EXPECT_EQ(Reported(folder, "module"), Folder(folder) + "sub\\setup.exe");
  EXPECT_FALSE(folder.HasFile("sub/setup.exe"));

  const WineCase& missing = Result("temp_with_a_missing_folder");
  ASSERT_EQ(missing.boxes.size(), 1u);
  EXPECT_TRUE(e2e::ShownAs(missing.boxes[0].text, launcher::kTemporaryCopyMessage)) << missing.boxes[0].text;
  EXPECT_EQ(missing.exitCode, 0);
  EXPECT_FALSE(missing.HasFile("missing"));
}

WINE_CASE(detached) {
  packaging::PackageInput input = Input();
  input.detached = true;
  c.package = e2e::BuildOrDie(input);
  c.exeName = "detached.exe";
  c.arguments = "/sleep=8000";
  c.after =
      "ls -1 \"$TEMPDIR\" > temp-right-after.txt; ls detached.exe.received.txt > report-right-after.txt 2>&1;"
      " sleep 20; rm -f \"$TEMPDIR/detached.exe\"";
}

TEST(WineLaunch, DetachedRunEndsWhileTheSetupProgramRunsAndLeavesTheCopy) {
  const WineCase& r = Result("detached");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.boxes.empty());
  EXPECT_EQ(r.ReadFile("temp-right-after.txt"), "detached.exe\n");
  EXPECT_NE(r.ReadFile("report-right-after.txt").find("No such file"), std::string::npos)
      << "the setup program had not finished when the launcher ended";
  EXPECT_EQ(Reported(r, "module"), r.tempFolder + "\\detached.exe") << "it did finish later";
}

WINE_CASE(not_an_executable) {
  packaging::PackageInput input = Input();
  input.program32 = packaging::Bytes(5000, 'x');
  c.package = e2e::BuildOrDie(input);
  c.exeName = "notexe.exe";
  c.after = "ls -1 \"$TEMPDIR\" > temp-during.txt; rm -f \"$TEMPDIR/notexe.exe\"";
}

TEST(WineLaunch, PayloadThatIsNoExecutableShowsTheNotExecutedMessageAndTheCopyStays) {
  const WineCase& r = Result("not_an_executable");
  ASSERT_EQ(r.boxes.size(), 1u);
  EXPECT_TRUE(e2e::ShownAs(r.boxes[0].text, launcher::kNotExecutedMessage)) << r.boxes[0].text;
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.ReadFile("temp-during.txt"), "notexe.exe\n");
}

WINE_CASE(uncompressed_size_one_more) {
  // With an end marker the stream holds exactly the program; without one, a
  // decoder asked for one byte more may find it in the range coder's last bytes.
  packaging::PackageInput input = Input();
  input.lzma.endMarker = true;
  input.adjust = [](launcher::PackageLocator&, launcher::PackageHeader& h) { h.payload32.uncompressedSize += 1; };
  c.package = e2e::BuildOrDie(input);
}

TEST(WineLaunch, UncompressedSizeOneMoreShowsTheDamagedPackageMessage) {
  const WineCase& r = Result("uncompressed_size_one_more");
  ASSERT_EQ(r.boxes.size(), 1u);
  EXPECT_EQ(r.boxes[0].text, launcher::kDamagedPackageMessage);
  EXPECT_EQ(r.ReadFile("temp-after.txt"), "");
}

WINE_CASE(crc_region_memory_cannot_hold) {
  packaging::PackageInput input = Input();
  input.adjust = [](launcher::PackageLocator& l, launcher::PackageHeader&) { l.crcLength = 0x7FFFFFF0u; };
  c.package = e2e::BuildOrDie(input);
  c.prefix = "win32";
}

TEST(WineLaunch, AllocationThatCannotBeMetEndsWithRuntimeError203) {
  const WineCase& r = Result("crc_region_memory_cannot_hold");
  EXPECT_EQ(r.exitCode, 203);
  ASSERT_EQ(r.boxes.size(), 1u);
  EXPECT_EQ(r.boxes[0].text.substr(0, 21), "Runtime error 203 at ");
  EXPECT_EQ(r.boxes[0].text.size(), 29u);
  EXPECT_EQ(r.boxes[0].caption, "Error");
  EXPECT_EQ(r.boxes[0].flags, 0u);
}

}  // namespace
