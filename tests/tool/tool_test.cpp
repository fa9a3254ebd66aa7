// setup-package as its users run it: round trips through build, inspect,
// verify and extract (their JSON read back with a JSON parser), the exit
// codes for each kind of trouble, hostile and damaged packages made by the
// shared writer, files, the package file, and signatures.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "launcher/crc32.h"
#include "launcher/fatal.h"
#include "tests/helpers/package_builder.h"
#include "tools/packaging/codes.h"
#include "tools/packaging/windows_releases.h"
#include "host/pe_image.h"
#include "tools/pe/pe_rewrite.h"
#include "tools/package_tool/output_files.h"
#include "tools/pe/branding.h"

namespace {

using nlohmann::json;

const std::string kTool = SETUP_PACKAGE;
const std::string kBuild = WINDOWS_BUILD_DIR;
const std::string kLauncher = kBuild + "/launcher.exe";
const std::string kSetup32 = kBuild + "/sample_setup32.exe";
const std::string kSetup64 = kBuild + "/sample_setup64.exe";
const std::string kIcon = EXAMPLE_ICON;

struct Result {
  int status;
  std::string output;  // standard output
  std::string errors;  // standard error
  std::string all() const { return output + errors; }
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Spit(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

Result RunTool(const std::string& arguments) {
  char errors[] = "/tmp/setup-package-stderr-XXXXXX";
  const int fd = mkstemp(errors);
  close(fd);
  Result r{-1, "", ""};
  FILE* pipe = popen((kTool + " " + arguments + " 2>" + errors).c_str(), "r");
  if (pipe != nullptr) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.output.append(buffer, n);
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  r.errors = Slurp(errors);
  unlink(errors);
  return r;
}

json Json(const Result& r) {
  try {
    return json::parse(r.output);
  } catch (const json::exception& e) {
    ADD_FAILURE() << "not JSON: " << e.what() << "\n" << r.output;
    return json();
  }
}

bool Exists(const std::string& path) {
  struct stat s;
  return lstat(path.c_str(), &s) == 0;
}

packaging::Bytes Bytes(const std::string& path) {
  const std::string s = Slurp(path);
  return packaging::Bytes(s.begin(), s.end());
}

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/setup-package-test-XXXXXX";
    dir_ = mkdtemp(name);
    Spit(dir_ + "/data.bin", "setup data for the program\n");
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string BuildArgs(const std::string& output) const {
    return "build --launcher " + kLauncher + " --program32 " + kSetup32 + " --program64 " + kSetup64 +
           " --setup-data " + dir_ + "/data.bin --architecture-message 'Wrong machine.'"
           " --version-message 'Not on %USER% \xc3\xa9' --versions 'Windows 7, later' --output " + output;
  }

  // A package made by the shared writer around the real launcher and sample
  // programs, its records changed by `adjust` (the CRC made to match again).
  std::string Made(const std::string& name,
                   std::function<void(launcher::PackageLocator&, launcher::PackageHeader&)> adjust,
                   std::function<void(packaging::PackageInput&)> input = nullptr) const {
    packaging::PackageInput in;
    in.image = Bytes(kLauncher);
    in.program32 = Bytes(kSetup32);
    in.setupData = packaging::Bytes(5000, 0x42);
    in.adjust = adjust;
    if (input) input(in);
    packaging::BuiltPackage p;
    std::string error;
    EXPECT_TRUE(packaging::BuildPackage(in, &p, &error)) << error;
    const std::string path = dir_ + "/" + name;
    Spit(path, std::string(p.bytes.begin(), p.bytes.end()));
    return path;
  }

  std::string dir_;
};

std::u16string U16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

TEST_F(ToolTest, BuildInspectVerifyExtractRoundTrip) {
  const std::string package = dir_ + "/setup.exe";
  const Result built = RunTool(BuildArgs(package) + " --json");
  ASSERT_EQ(built.status, 0) << built.all();
  const json b = Json(built);
  EXPECT_EQ(b["schemaVersion"], 1);
  EXPECT_EQ(b["warnings"], json::array());
  const json data = b["setupData"];
  // The checksum, taken as the package was written, is the whole file's.
  const std::string file = Slurp(package);
  const packaging::Bytes bytes(file.begin(), file.end());
  pe::ImageInfo image;
  std::string why;
  ASSERT_TRUE(pe::Parse(bytes, &image, &why)) << why;
  EXPECT_EQ(image.checkSum, pe::Checksum(bytes, image.checkSumOffset));

  const json in = Json(RunTool("inspect --json " + package));
  EXPECT_EQ(in["schemaVersion"], 1);
  EXPECT_EQ(in["crcMatches"], true);
  EXPECT_EQ(in["header"]["allowedVersions"], "0x8000000000000080");
  EXPECT_EQ(in["header"]["allowedVersionNames"], json({"Windows 7", "later"}));
  EXPECT_EQ(in["header"]["architectureMessage"], "Wrong machine.");
  EXPECT_EQ(in["header"]["versionMessage"], "Not on %USER% \xc3\xa9");
  EXPECT_EQ(in["problems"], json::array());
  bool sawData = false;
  for (const json& r : in["regions"]) {
    if (r["name"] == "setup data") {
      sawData = true;
      EXPECT_EQ(r["start"], data["start"]) << "build and inspect agree where the setup data lies";
      EXPECT_EQ(r["end"], data["end"]);
    }
  }
  EXPECT_TRUE(sawData);

  const Result verified = RunTool("verify --json " + package);
  EXPECT_EQ(verified.status, 0) << verified.all();
  const json v = Json(verified);
  EXPECT_EQ(v["rows"].size(), 46u + 14u) << "46 as an administrator, 14 as a user from Vista on";
  auto row = [&](const char* windows, int bits, bool with32, bool admin, bool silent) {
    for (const json& r : v["rows"]) {
      if (r["windows"] == windows && r["bits"] == bits && r["with32"] == with32 && r["administrator"] == admin &&
          r["silent"] == silent) {
        return r;
      }
    }
    return json();
  };
  EXPECT_EQ(row("Windows 7", 64, false, true, false)["program"], "64-bit");
  EXPECT_EQ(row("Windows 7", 64, true, true, false)["program"], "32-bit");
  EXPECT_EQ(row("Windows 7", 32, false, true, false)["program"], "32-bit");
  EXPECT_EQ(row("later (11.0)", 64, false, true, false)["program"], "64-bit");
  EXPECT_EQ(row("Windows 8", 64, false, true, false)["message"], "Not on Windows 8 \xc3\xa9");
  EXPECT_EQ(row("Windows 7", 64, false, false, false)["noAdmin"], true) << "a user without /silent";

  const Result extracted = RunTool("extract " + package + " --output-dir " + dir_ + "/out");
  ASSERT_EQ(extracted.status, 0) << extracted.all();
  EXPECT_EQ(Slurp(dir_ + "/out/setup32.exe"), Slurp(kSetup32));
  EXPECT_EQ(Slurp(dir_ + "/out/setup64.exe"), Slurp(kSetup64));
  EXPECT_EQ(Slurp(dir_ + "/out/setup-data.bin"), Slurp(dir_ + "/data.bin"));
}

// The package's own file name is in its version resource: the same name in
// two folders.
TEST_F(ToolTest, SameInputsGiveTheSameBytes) {
  ASSERT_EQ(std::system(("mkdir '" + dir_ + "/a' '" + dir_ + "/b'").c_str()), 0);
  const std::string brand = " --company 'Contoso Ltd' --product-version 2.3 --icon " + kIcon;
  ASSERT_EQ(RunTool(BuildArgs(dir_ + "/a/setup.exe") + brand).status, 0);
  ASSERT_EQ(RunTool(BuildArgs(dir_ + "/b/setup.exe") + brand).status, 0);
  EXPECT_EQ(Slurp(dir_ + "/a/setup.exe"), Slurp(dir_ + "/b/setup.exe"));
}

TEST_F(ToolTest, ReplacingAPackageGivesWhatAFreshBuildGives) {
  ASSERT_EQ(RunTool(BuildArgs(dir_ + "/first.exe")).status, 0);
  const std::string again = "build --launcher " + dir_ + "/first.exe --program32 " + kSetup32 + " --output " +
                            dir_ + "/again.exe";
  const Result refused = RunTool(again);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.errors.find("first.exe: the image already carries a package"), std::string::npos) << refused.errors;
  EXPECT_FALSE(Exists(dir_ + "/again.exe"));
  ASSERT_EQ(RunTool(again + " --replace").status, 0);
  ASSERT_EQ(std::system(("mkdir '" + dir_ + "/fresh'").c_str()), 0);
  ASSERT_EQ(RunTool("build --launcher " + kLauncher + " --program32 " + kSetup32 + " --output " + dir_ +
                    "/fresh/again.exe").status, 0);
  EXPECT_EQ(Slurp(dir_ + "/again.exe"), Slurp(dir_ + "/fresh/again.exe"));
}

struct Call {
  const char* arguments;  // DIR: the test folder; L, P32, P64: launcher and programs
  int status;
  const char* says;  // on standard error
};

// One pass over `s`: what a word is replaced with is never searched again
// (the random folder name may hold "P32" or "DIR").
std::string Expand(const std::string& s, const std::string& dir) {
  const std::pair<std::string, std::string> words[] = {
      {"DIR", dir}, {"P32", kSetup32}, {"P64", kSetup64}, {"L ", kLauncher + " "}};
  std::string out;
  for (size_t at = 0; at < s.size();) {
    bool replaced = false;
    for (const auto& [word, with] : words) {
      if (s.compare(at, word.size(), word) == 0) {
        out += with, at += word.size(), replaced = true;
        break;
      }
    }
    if (!replaced) out += s[at++];
  }
  return out;
}

// Each kind of trouble has its exit code (2 usage, 3 files, 1 problems) and a
// message that names the option or the file; nothing is left behind.
TEST_F(ToolTest, BuildRefusalsAndTheirExitCodes) {
  std::system(("truncate -s 2G '" + dir_ + "/huge.exe' && mkdir '" + dir_ + "/folder' && mkfifo '" + dir_ + "/fifo'").c_str());
  Spit(dir_ + "/long.txt", std::string(70000, 'x'));
  // Images Windows does not start as a process: the sample program as a
  // DLL, without its executable-image flag, as a native and as an EFI image.
  for (const auto& [name, at, value] : {std::make_tuple("dll.exe", 22, 0x2102), std::make_tuple("unfinished.exe", 22, 0x0100),
                                        std::make_tuple("native.exe", 24 + 68, 1), std::make_tuple("efi.exe", 24 + 68, 10)}) {
    packaging::Bytes b = Bytes(kSetup32);
    const uint32_t pe = launcher::LoadLe32(&b[60]);
    launcher::StoreLe16(&b[pe + at], static_cast<uint16_t>(value));
    Spit(dir_ + "/" + name, std::string(b.begin(), b.end()));
  }
  // A launcher image made a DLL, and one whose optional header is too short
  // for the certificate entry (nothing may be written past it).
  packaging::Bytes dll = Bytes(kLauncher);
  launcher::StoreLe16(&dll[launcher::LoadLe32(&dll[60]) + 22], 0x2102);
  Spit(dir_ + "/launcher-dll.exe", std::string(dll.begin(), dll.end()));
  packaging::Bytes tiny(376 + 24 + 96);
  tiny[0] = 'M', tiny[1] = 'Z', tiny[60] = 376 & 0xFF, tiny[61] = 376 >> 8;
  for (auto [at, value] : {std::pair{376, 0x4550}, {380, 0x14C}, {396, 96}, {398, 0x102}, {400, 0x10B}, {492, 16}}) {
    launcher::StoreLe16(&tiny[at], static_cast<uint16_t>(value));
  }
  Spit(dir_ + "/tiny.exe", std::string(tiny.begin(), tiny.end()));
  const Call calls[] = {
      {"--launcher DIR/launcher-dll.exe --program32 P32", 1, "launcher-dll.exe: a DLL, not a program"},
      {"--replace --launcher DIR/tiny.exe --program32 P32", 1, "tiny.exe"},
      {"--launcher /no/such.exe --program32 P32", 3, "/no/such.exe: No such file or directory"},
      {"--launcher L --program32 /no/setup.exe", 3, "/no/setup.exe: No such file or directory"},
      {"--launcher DIR/folder --program32 P32", 3, "DIR/folder: is a directory"},
      {"--launcher L --program32 DIR/folder", 3, "DIR/folder: is a directory"},
      {"--launcher L --program32 P32 --setup-data DIR/folder", 3, "DIR/folder: is a directory"},
      {"--launcher L --program32 P32 --version-message-file DIR/folder", 3, "DIR/folder: is a directory"},
      {"--launcher L --program32 P32 --setup-data /dev/null", 3, "/dev/null: not a regular file"},
      {"--launcher L --program32 P64", 1, "machine type x86-64 (64-bit), where i386 (32-bit) belongs"},
      {"--launcher L --program32 P32 --program64 P32", 1, "machine type i386 (32-bit), where x86-64 (64-bit) belongs"},
      {"--launcher L --program32 DIR/data.bin", 1, "DIR/data.bin: not a Windows program"},
      {"--launcher L --program32 DIR/huge.exe", 1, "setup programs must be smaller than 2 GiB"},
      {"--launcher L --program32 DIR/dll.exe", 1, "a DLL, not a program"},
      {"--launcher L --program32 DIR/unfinished.exe", 1, "not marked as an executable image"},
      {"--launcher L --program32 DIR/native.exe", 1, "a native image"},
      {"--launcher L --program32 DIR/efi.exe", 1, "an EFI image"},
      {"--launcher P32 --program32 P32", 1, "no room for the package locator at offsets 128..255"},
      {"--launcher L --program32 P32 --crc-reach 99999999", 2, "--crc-reach 99999999 reaches past the end"},
      {"--launcher L --program32 P32 --crc-reach 4294967295", 2, "--crc-reach takes payloads, whole or a byte count"},
      {"--launcher L --program32 P32 --versions 'Windows 7, Windows 12'", 2, "unknown version name 'Windows 12'"},
      {"--launcher L --program32 P32 --lc 3 --lp 2", 2, "--lc plus --lp must be at most 4"},
      {"--launcher L --program32 P32 --lc 9", 2, "--lc"},
      {"--launcher L --program32 P32 --elevation 3", 2, "--elevation"},
      {"--launcher L --program32 P32 --frobnicate", 2, "--frobnicate"},
      {"--program32 P32", 2, "--launcher is required"},
      {"--launcher L --program32 P32 --setup-data DIR/fifo", 3, "DIR/fifo: not a regular file"},
      {"--launcher L --program32 P32 --version-message-file DIR/long.txt", 2,
       "--version-message: 70000 UTF-16 units, more than the 65535"},
      {"--launcher L", 2, "give --program32, --program64 or both"},
  };
  for (const Call& c : calls) {
    const std::string arguments = Expand(c.arguments, dir_);
    const Result r = RunTool("build --output " + dir_ + "/out.exe " + arguments);
    EXPECT_EQ(r.status, c.status) << arguments << "\n" << r.all();
    EXPECT_NE(r.errors.find(Expand(c.says, dir_)), std::string::npos) << arguments << "\n" << r.all();
    EXPECT_FALSE(Exists(dir_ + "/out.exe")) << arguments;
  }
  // An output that is one of the inputs is refused, and the input kept.
  const Result same = RunTool(Expand("build --launcher L --program32 P32 --setup-data DIR/data.bin --output DIR/data.bin", dir_));
  EXPECT_EQ(same.status, 2) << same.all();
  EXPECT_NE(same.errors.find("is the file given as --setup-data"), std::string::npos) << same.all();
  EXPECT_EQ(Slurp(dir_ + "/data.bin"), "setup data for the program\n");
}

// What the author may not mean is said, and the package is still built.
TEST_F(ToolTest, BuildWarnings) {
  const Call calls[] = {
      {"--versions ''", 0, "no Windows version is allowed"},
      {"--versions 'Windows XP'", 0, "there is no --version-message: their users see an empty box"},
      {"--program64 P64 --versions 'Windows 7' --version-message 'Not on %USER%.'", 0, ""},
      {"--not-for-64bit", 0, "64-bit Windows is refused but there is no --architecture-message"},
      {"--architecture-message 'Bell\a and escape\x1b[2J'", 0, "the architecture message holds control characters"},
      {"--architecture-message '\xc5\x81\xc3\xb3" "d\xc5\xba \xf0\x9f\x98\x80'", 0,
       "the architecture message holds characters that code page 1252 lacks"},
      {"--crc-reach 66", 0, "leaves part of the header and payloads outside the CRC"},
  };
  for (const Call& c : calls) {
    const std::string arguments = Expand(c.arguments, dir_);
    const Result r = RunTool("build --launcher " + kLauncher + " --program32 " + kSetup32 + " --output " + dir_ +
                             "/out.exe " + arguments);
    EXPECT_EQ(r.status, c.status) << arguments << "\n" << r.all();
    if (*c.says != 0) EXPECT_NE(r.errors.find(c.says), std::string::npos) << arguments << "\n" << r.all();
    else EXPECT_EQ(r.errors, "") << arguments;
    EXPECT_TRUE(Exists(dir_ + "/out.exe")) << arguments;
    std::remove((dir_ + "/out.exe").c_str());
  }
}

// Damaged and hostile packages, as inspect, verify and extract see them.
// Each command ends in exit status 1 on a damaged package (the reader's
// codes for each are held in-process, package_reader_test.cpp), and extract
// writes nothing from it.
TEST_F(ToolTest, DamagedPackagesAreProblemsForEveryCommand) {
  using Adjust = std::function<void(launcher::PackageLocator&, launcher::PackageHeader&)>;
  struct Case {
    const char* name;
    Adjust adjust;
  };
  const Case cases[] = {
      {"compressed-size-1", [](auto&, auto& h) { h.payload32.compressedSize = 1; }},
      {"uncompressed-2-31", [](auto&, auto& h) { h.payload32.uncompressedSize = 0x80000000u; }},
      {"claims-2-gib", [](auto&, auto& h) { h.payload32.uncompressedSize = 0x7FFFFFFFu; }},
      {"payload-end-1", [](auto&, auto& h) { launcher::SetPayloadEnd(&h, 1); }},
      {"payload-end-0", [](auto&, auto& h) { launcher::SetPayloadEnd(&h, 0); }},
      {"uncompressed-0", [](auto&, auto& h) { h.payload32.uncompressedSize = 0; }},
      {"payload-end-past", [](auto&, auto& h) { launcher::SetPayloadEnd(&h, 0x7FFFFFF0u); }},
  };
  for (const Case& c : cases) {
    const std::string package = Made(std::string(c.name) + ".exe", c.adjust);
    const Result inspected = RunTool("inspect " + package);
    EXPECT_EQ(inspected.status, 1) << c.name << "\n" << inspected.all();
    const Result verified = RunTool("verify " + package);
    EXPECT_EQ(verified.status, 1) << c.name << "\n" << verified.all();
    const std::string out = dir_ + "/" + c.name;
    const Result extracted = RunTool("extract " + package + " --output-dir " + out);
    EXPECT_EQ(extracted.status, 1) << c.name << "\n" << extracted.all();
    EXPECT_FALSE(Exists(out + "/setup-data.bin") || Exists(out + "/setup32.exe")) << c.name << ": nothing from a damaged package";
  }
  // Every row of a size up to the format's limit is checked.
  const json claims = Json(RunTool("verify --json " + dir_ + "/claims-2-gib.exe"));
  EXPECT_GT(claims["damagedRows"], 0) << claims.dump();
  for (const json& row : claims["rows"]) EXPECT_EQ(row["outcome"], "message") << row.dump();
  const Result verified = RunTool("verify " + Made("damaged.exe", nullptr, [](packaging::PackageInput& in) {
    in.adjust = [](auto&, auto& h) { h.payload32.offset += 1; };
  }));
  EXPECT_EQ(verified.status, 1);
  EXPECT_NE(verified.output.find("rows show the damaged or truncated package message"), std::string::npos)
      << verified.output;
}

// What Windows starts: an MZ file without a PE header runs as a DOS program
// on 32-bit Windows up to 7 only; a package cut inside the launcher's image,
// or with its DOS header damaged, is started nowhere.
TEST_F(ToolTest, VerifyRowsOfFilesWindowsDoesNotStart) {
  packaging::Bytes dos(600, 0);
  dos[0] = 'M', dos[1] = 'Z';
  const json dosRows = Json(RunTool("verify --json " + Made("dos.exe", nullptr, [&](packaging::PackageInput& in) {
    in.program32 = dos;
  })));
  std::map<std::string, std::string> dosSays;
  for (const json& row : dosRows["rows"]) {
    if (row["administrator"] == true && row["with32"] == false) {
      dosSays[row["windows"].get<std::string>() + (row["bits"] == 64 ? " 64" : "")] = row["reason"];
    }
  }
  EXPECT_EQ(dosSays["Windows XP"], "runs");
  EXPECT_EQ(dosSays["Windows 7"], "runs");
  EXPECT_EQ(dosSays["Windows 8"], "not-executed");
  EXPECT_EQ(dosSays["Windows 7 64"], "not-executed");
  std::string image = Slurp(Made("whole-image.exe", nullptr));
  Spit(dir_ + "/image-cut.exe", image.substr(0, 100));
  const Result cut = RunTool("verify " + dir_ + "/image-cut.exe");
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.output.find("Windows does not start the file"), std::string::npos) << cut.output;
  image[1] = 'X';
  Spit(dir_ + "/image-mx.exe", image);
  const Result mxRows = RunTool("verify " + dir_ + "/image-mx.exe");
  EXPECT_NE(mxRows.output.find("rows: Windows does not start the file"), std::string::npos) << mxRows.output;
  EXPECT_EQ(mxRows.output.find("damaged or truncated package message"), std::string::npos) << mxRows.output;
}

// Code bytes of the launcher changed (outside the CRC region): verify runs
// the tool's own launcher code, so it checks no row of such a package.
TEST_F(ToolTest, ModifiedLauncherRowsAreNotChecked) {
  std::string int3 = Slurp(Made("whole-image.exe", nullptr));
  int3.replace(0x1000, 16, std::string(16, '\xCC'));
  Spit(dir_ + "/int3.exe", int3);
  const Result modified = RunTool("inspect --json " + dir_ + "/int3.exe");
  EXPECT_EQ(modified.status, 1);
  EXPECT_EQ(Json(modified)["problemCodes"], json::array({"launcher-modified"}));
  const Result notChecked = RunTool("verify --json " + dir_ + "/int3.exe");
  EXPECT_EQ(notChecked.status, 1);
  const json rows = Json(notChecked);
  EXPECT_EQ(rows["notCheckedRows"], rows["rows"].size());
  for (const json& row : rows["rows"]) EXPECT_EQ(row["reason"], "not-checked") << row.dump();
}

// A package cut short: refused, or salvaged on request (still status 1).
TEST_F(ToolTest, ExtractOfACutPackage) {
  std::string bytes = Slurp(Made("whole.exe", nullptr));
  Spit(dir_ + "/cut.exe", bytes.substr(0, bytes.size() - 100));
  EXPECT_EQ(RunTool("extract " + dir_ + "/cut.exe --output-dir " + dir_ + "/cut").status, 1);
  EXPECT_FALSE(Exists(dir_ + "/cut/setup32.exe"));
  const Result salvaged = RunTool("extract " + dir_ + "/cut.exe --salvage --output-dir " + dir_ + "/cut");
  EXPECT_EQ(salvaged.status, 1) << salvaged.all();
  EXPECT_NE(salvaged.errors.find("shorter than its recorded size"), std::string::npos) << salvaged.all();
  EXPECT_EQ(Slurp(dir_ + "/cut/setup32.exe"), Slurp(kSetup32)) << "what can be read is written";
}

// Where memory decides the outcome, verify says so: a CRC region of 2 GiB
// cannot be held by any 32-bit process (runtime error 203, as on Windows),
// 1.25 GiB can be held by some.
TEST_F(ToolTest, VerifySaysWhereMemoryDecides) {
  struct Case {
    uint32_t crcLength;
    const char* outcome;
    int mib;
    const char* says;
  };
  for (const Case& c : {Case{0x7FFFFFFEu, "runtime error", 2047, "needs 2047 MiB in one block: more than this process"},
                        Case{0x50000000u, "message", 1280, "needs 1280 MiB in one block: where a process cannot"}}) {
    const std::string package = Made("crc" + std::to_string(c.mib) + ".exe", [&](auto& l, auto&) {
      l.crcLength = c.crcLength;
    });
    const Result text = RunTool("verify " + package);
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.output.find(c.says), std::string::npos) << text.output;
    EXPECT_EQ(RunTool("verify " + package).output, text.output) << "the same words every run";
    const json j = Json(RunTool("verify --json " + package));
    EXPECT_EQ(j["rows"][0]["outcome"], c.outcome);
    EXPECT_EQ(j["rows"][0]["largestBlockMiB"], c.mib);
    // inspect says so where the rows end in runtime error 203.
    const json codes = Json(RunTool("inspect --json " + package))["problemCodes"];
    EXPECT_EQ(std::count(codes.begin(), codes.end(), "crc-region-out-of-memory"), c.mib == 2047 ? 1 : 0) << codes;
  }
  // A CRC region of 1152 MiB that matches (a sparse file): every row runs,
  // but only where the process gets that block: a warning, an error with
  // --strict.
  const std::string package = Made("hedged.exe", nullptr), small = Slurp(package);
  const uint32_t header = launcher::LoadLe32(reinterpret_cast<const uint8_t*>(small.data()) + 128);
  const uint32_t length = 1152u << 20;
  uint32_t crc = launcher::Crc32(small.data() + header, small.size() - header);
  const std::vector<uint8_t> zeros(1 << 20);
  for (uint64_t done = small.size() - header; done < length;) {
    const size_t n = std::min<uint64_t>(zeros.size(), length - done);
    crc = launcher::Crc32Update(crc, zeros.data(), n), done += n;
  }
  uint8_t fields[8];
  launcher::StoreLe32(fields, length), launcher::StoreLe32(fields + 4, crc);
  const int fd = open(package.c_str(), O_WRONLY);
  ASSERT_TRUE(fd >= 0 && pwrite(fd, fields, 8, 132) == 8 && ftruncate(fd, off_t(header) + length) == 0);
  close(fd);
  const Result hedged = RunTool("verify --json " + package);
  EXPECT_EQ(hedged.status, 0) << hedged.all();
  const json h = Json(hedged);
  EXPECT_EQ(h["rows"][0]["outcome"], "runs");
  ASSERT_EQ(h["warnings"].size(), 1u) << h.dump();
  EXPECT_EQ(RunTool("verify --strict -q " + package).status, 1);
  // A stream that reaches 25 MiB into the setup data, for a program that
  // claims 1536 MiB: the first block is a guess of the whole claim, trimmed
  // to what the stream gave before the damaged message. The run never needed
  // the guess: no note.
  const std::string claims = Made(
      "claims.exe",
      [](auto&, auto& h) {
        h.payload32.compressedSize += 25u << 20;
        h.payload32.uncompressedSize = 1536u << 20;
      },
      [](packaging::PackageInput& in) {
        std::mt19937 random(7);  // not a stream: the decoder stops soon
        in.setupData.resize(26u << 20);
        for (uint8_t& b : in.setupData) b = static_cast<uint8_t>(random());
      });
  const json row = Json(RunTool("verify --json " + claims))["rows"][0];
  EXPECT_EQ(row["outcome"], "message");
  EXPECT_FALSE(row.contains("largestBlockMiB")) << row.dump();
}

// Messages are data: control characters never reach the terminal raw, JSON
// stays valid UTF-8 with a lone surrogate.
TEST_F(ToolTest, MessagesAreShownEscaped) {
  const std::string package = Made("messages.exe", nullptr, [](packaging::PackageInput& in) {
    in.architectureMessage = U16("Bell\a, escape\x1b[2J\nno problems found\n");
    in.versionMessage = u"lone \xD800 or \\uD800 on %USER%";
    in.allowedVersions = ~(uint64_t(1) << 7);
  });
  const Result text = RunTool("inspect " + package);
  EXPECT_EQ(text.output.find('\x1b'), std::string::npos);
  EXPECT_EQ(text.output.find('\a'), std::string::npos);
  EXPECT_NE(text.output.find("Bell\\x07, escape\\e[2J\\nno problems found\\n"), std::string::npos) << text.output;
  // Nothing lost, nothing mistaken: a lone surrogate and the same six
  // characters written out stay apart, in text and in JSON.
  EXPECT_NE(text.output.find("lone \\uD800 or \\\\uD800 on"), std::string::npos) << text.output;
  const Result js = RunTool("inspect --json " + package);
  const json j = Json(js);
  EXPECT_EQ(j["header"]["versionMessage"], "lone \xEF\xBF\xBD or \\uD800 on %USER%");
  EXPECT_EQ(j["header"]["versionMessageUtf16"][5], 0xD800);
  EXPECT_FALSE(j["header"].contains("architectureMessageUtf16"));
  const Result verified = RunTool("verify " + package);
  EXPECT_EQ(verified.output.find('\x1b'), std::string::npos);
  // What comes from outside reaches the terminal escaped too: a path, and a
  // format character that would turn the line around.
  const Result missing = RunTool("inspect '" + dir_ + "/no\x1b[2Jsuch'");
  EXPECT_EQ(missing.errors.find('\x1b'), std::string::npos) << missing.errors;
  Spit(dir_ + "/rlo.exe", Slurp(Made("rlo-source.exe", nullptr, [](packaging::PackageInput& in) {
    in.architectureMessage = u"a\u202Eb";
  })));
  EXPECT_NE(RunTool("inspect " + dir_ + "/rlo.exe").output.find("a\\u202Eb"), std::string::npos);
  const Result rloJson = RunTool("inspect --json " + dir_ + "/rlo.exe");
  EXPECT_EQ(rloJson.output.find("\xE2\x80\xAE"), std::string::npos) << "escaped in JSON too";
  EXPECT_EQ(Json(rloJson)["header"]["architectureMessage"], "a\u202Eb");
}

TEST_F(ToolTest, FoldersAndSpecialFilesAreNamedNotCrashedOn) {
  for (const char* command : {"inspect DIR", "verify DIR", "extract DIR --output-dir DIR/x", "inspect /dev/null"}) {
    const Result r = RunTool(Expand(command, dir_));
    EXPECT_EQ(r.status, 3) << command << "\n" << r.all();
    EXPECT_TRUE(r.errors.find("is a directory") != std::string::npos ||
                r.errors.find("not a regular file") != std::string::npos)
        << command << "\n" << r.errors;
  }
}

// No output goes over a device, a FIFO or a socket, or a link to one (run as
// root, replacing a device node breaks the machine): build, extract, the
// signing command's output and a --sign-command that makes a folder of its
// {out} are refused, with nothing written and nothing left. The nodes are
// made in the test's own folder.
TEST_F(ToolTest, SpecialFilesAreNeverWrittenOver) {
  const std::string fifo = dir_ + "/fifo", out = dir_ + "/out";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  ASSERT_EQ(symlink(fifo.c_str(), (dir_ + "/link").c_str()), 0);
  ASSERT_EQ(std::system(("mkdir '" + out + "' && mkfifo '" + out + "/setup32.exe'").c_str()), 0);
  std::vector<std::string> nodes = {fifo};
  if (geteuid() == 0 && mknod((dir_ + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) nodes.push_back(dir_ + "/null");
  const std::string package = Made("p.exe", nullptr);
  struct Case {
    std::string command;
    const char* said;
  } cases[] = {
      {BuildArgs(dir_ + "/fifo"), "fifo: not a regular file"},
      {BuildArgs(dir_ + "/link"), "link: not a regular file"},
      {BuildArgs(dir_ + "/null"), "null: not a regular file"},
      {BuildArgs(dir_ + "/fifo") + " --sign-command 'cp {in} {out}'", "fifo: not a regular file"},
      {"extract " + package + " --output-dir " + out + " --force", "setup32.exe: not a regular file"},
      {BuildArgs(dir_ + "/signed.exe") + " --sign-command 'mkdir {out}'", "--sign-command"},
  };
  for (const Case& c : cases) {
    if (c.command.find("/null") != std::string::npos && nodes.size() < 2) continue;
    const Result r = RunTool(c.command);
    EXPECT_EQ(r.status, 3) << c.command << "\n" << r.all();
    EXPECT_NE(r.errors.find(c.said), std::string::npos) << c.command << "\n" << r.errors;
  }
  struct stat info;
  for (const std::string& node : nodes) {
    EXPECT_TRUE(lstat(node.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) << node << " was replaced";
  }
  EXPECT_TRUE(lstat((out + "/setup32.exe").c_str(), &info) == 0 && S_ISFIFO(info.st_mode));
  EXPECT_FALSE(Exists(dir_ + "/signed.exe"));
  EXPECT_NE(std::system(("ls -A '" + dir_ + "' '" + out + "' | grep -q '^\\.setup-package-'").c_str()), 0)
      << "no temporary file or folder left";
}

// extract writes only its own three names inside its folder, keeps what is
// there unless --force, and replaces a link rather than writing through it.
TEST_F(ToolTest, ExtractNeverOverwritesUnasked) {
  const std::string package = Made("p.exe", nullptr);
  const std::string out = dir_ + "/out";
  ASSERT_EQ(RunTool("extract " + package + " --output-dir " + out).status, 0);
  Spit(out + "/setup32.exe", "mine");
  const Result kept = RunTool("extract " + package + " --output-dir " + out);
  EXPECT_EQ(kept.status, 3);
  EXPECT_NE(kept.errors.find("setup32.exe: exists (use --force to replace it)"), std::string::npos) << kept.errors;
  EXPECT_EQ(Slurp(out + "/setup32.exe"), "mine");
  // All or nothing: one name taken, and none of the others is written.
  const std::string fresh = dir_ + "/fresh";
  mkdir(fresh.c_str(), 0755);
  Spit(fresh + "/setup-data.bin", "another package's");
  EXPECT_EQ(RunTool("extract " + package + " --output-dir " + fresh).status, 3);
  EXPECT_FALSE(Exists(fresh + "/setup32.exe")) << "not a mixed set";
  Spit(dir_ + "/outside.txt", "outside");
  std::remove((out + "/setup-data.bin").c_str());
  ASSERT_EQ(symlink((dir_ + "/outside.txt").c_str(), (out + "/setup-data.bin").c_str()), 0);
  ASSERT_EQ(symlink((dir_ + "/outside.txt").c_str(), (out + "/setup-data.bin.partial").c_str()), 0);
  EXPECT_EQ(RunTool("extract " + package + " --output-dir " + out).status, 3) << "a link counts as existing";
  EXPECT_EQ(RunTool("extract " + package + " --output-dir " + out + " --force").status, 0);
  EXPECT_EQ(Slurp(dir_ + "/outside.txt"), "outside") << "nothing written through a link";
  EXPECT_EQ(Slurp(out + "/setup32.exe"), Slurp(kSetup32));
  EXPECT_EQ(Slurp(out + "/setup-data.bin"), std::string(5000, 0x42));
  // The package itself is no output, and a refusal leaves no folder behind.
  ASSERT_EQ(std::system(("cp '" + package + "' '" + out + "/setup32.exe'").c_str()), 0);
  EXPECT_EQ(RunTool("extract " + out + "/setup32.exe --output-dir " + out + " --force").status, 2);
  EXPECT_TRUE(Slurp(out + "/setup32.exe") == Slurp(package)) << "the package kept";
  const std::string damaged = Made("damaged.exe", [](launcher::PackageLocator&, launcher::PackageHeader& h) {
    h.payload32.compressedSize -= 1000;
  });
  EXPECT_EQ(RunTool("extract " + damaged + " --output-dir " + dir_ + "/new").status, 1);
  EXPECT_FALSE(Exists(dir_ + "/new"));
}

TEST_F(ToolTest, OutputsAppearWholeAndTwoBuildsDoNotClash) {
  const Result missing = RunTool(BuildArgs(dir_ + "/missing/setup.exe"));
  EXPECT_EQ(missing.status, 3);
  EXPECT_NE(missing.errors.find("missing"), std::string::npos) << missing.errors;
  const std::string both = "(" + kTool + " " + BuildArgs(dir_ + "/same.exe") + " >/dev/null & " + kTool + " " +
                           BuildArgs(dir_ + "/same.exe") + " >/dev/null & wait)";
  ASSERT_EQ(std::system(both.c_str()), 0);
  ASSERT_EQ(std::system(("mkdir '" + dir_ + "/alone'").c_str()), 0);  // the same name: it is in the package
  ASSERT_EQ(RunTool(BuildArgs(dir_ + "/alone/same.exe")).status, 0);
  EXPECT_EQ(Slurp(dir_ + "/same.exe"), Slurp(dir_ + "/alone/same.exe"));
  EXPECT_NE(std::system(("ls -A '" + dir_ + "' | grep -q setup-package").c_str()), 0) << "no temporary file left";
}

// A package file holds every option; the command line overrides it; an
// unknown key is named with its line.
TEST_F(ToolTest, PackageFile) {
  std::system(("mkdir -p '" + dir_ + "/project' && cp " + kSetup32 + " " + kSetup64 + " '" + dir_ + "/project/'").c_str());
  Spit(dir_ + "/project/data.bin", "setup data for the program\n");
  Spit(dir_ + "/project/package.toml",
       "launcher = \"" + kLauncher + "\"\n"
       "program32 = \"sample_setup32.exe\"\n"
       "program64 = \"sample_setup64.exe\"\n"
       "setup-data = \"data.bin\"\n"
       "architecture-message = \"Wrong machine.\"\n"
       "version-message = \"Not on %USER% \xc3\xa9\"\n"
       "versions = [\"Windows 7\", \"later\"]\n"
       "output = \"from-file.exe\"\n");
  const Result fromFile = RunTool("build --config " + dir_ + "/project/package.toml");
  ASSERT_EQ(fromFile.status, 0) << fromFile.all();
  ASSERT_EQ(std::system(("mkdir '" + dir_ + "/options'").c_str()), 0);  // the same name: it is in the package
  ASSERT_EQ(RunTool(BuildArgs(dir_ + "/options/from-file.exe")).status, 0);
  EXPECT_EQ(Slurp(dir_ + "/project/from-file.exe"), Slurp(dir_ + "/options/from-file.exe")) << "paths relative to the file";

  ASSERT_EQ(RunTool("build --config " + dir_ + "/project/package.toml --versions=later --output " + dir_ +
                    "/override.exe").status, 0);
  EXPECT_EQ(Json(RunTool("inspect --json " + dir_ + "/override.exe"))["header"]["allowedVersionNames"],
            json({"later"}));

  Spit(dir_ + "/project/bad.toml", "launcher = \"x\"\n\nlaunchr = \"y\"\n");
  const Result bad = RunTool("build --config " + dir_ + "/project/bad.toml");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.errors.find("bad.toml:3: launchr: unknown key"), std::string::npos) << bad.errors;
}

TEST_F(ToolTest, CommandLineConventions) {
  const Call calls[] = {
      {"--version", 0, ""},
      {"--help", 0, ""},
      {"build --help", 0, ""},
      {"inspect --help", 0, ""},
      {"verify --help", 0, ""},
      {"extract --help", 0, ""},
      {"", 2, "A subcommand is required"},
      {"frobnicate", 2, "unknown command 'frobnicate'"},
      {"inspect", 2, "PACKAGE is required"},
      {"verify --codepage 1250 L", 2, "--codepage"},
      {"inspect -- DIR/-starts-with-a-dash.exe", 3, "-starts-with-a-dash.exe: No such file"},
  };
  for (const Call& c : calls) {
    const Result r = RunTool(Expand(c.arguments, dir_));
    EXPECT_EQ(r.status, c.status) << c.arguments << "\n" << r.all();
    EXPECT_NE(r.errors.find(Expand(c.says, dir_)), std::string::npos) << c.arguments << "\n" << r.all();
  }
  EXPECT_NE(RunTool("--version").output.find("setup-package 1."), std::string::npos);
  EXPECT_NE(RunTool("--help").output.find("exit status: 0 fine; 1 the package has problems; 2 called wrongly; 3"),
            std::string::npos);
  EXPECT_EQ(RunTool("-q " + BuildArgs(dir_ + "/quiet.exe")).output, "") << "-q prints nothing on success";
  EXPECT_EQ(RunTool("build --launcher=" + kLauncher + " --program32=" + kSetup32 + " --output=" + dir_ + "/eq.exe")
                .status, 0);
  // With --json, usage and file errors are JSON documents too.
  for (const auto& [arguments, status] : {std::pair<std::string, int>{"inspect --json /no/such.exe", 3},
                                          std::pair<std::string, int>{"verify --json --codepage 1 L", 2}}) {
    const json j = Json(RunTool(Expand(arguments, dir_)));
    EXPECT_EQ(j["exitStatus"], status) << arguments;
    EXPECT_TRUE(j["error"].is_string()) << arguments;
  }
}

// The start through the shell (no administrator, Vista and later), detached
// packages, another code page, and Windows 11 as a name.
TEST_F(ToolTest, VerifyRowsForShellStartsCodePagesAndWindows11) {
  struct Mode {
    int elevation;
    const char* verb;
    bool noAdmin;
  };
  for (const Mode m : {Mode{0, "open", false}, Mode{1, "runas", false}, Mode{2, "open", true}}) {
    const std::string package = dir_ + "/e" + std::to_string(m.elevation) + ".exe";
    ASSERT_EQ(RunTool(BuildArgs(package) + " --elevation " + std::to_string(m.elevation)).status, 0);
    const json v = Json(RunTool("verify --json " + package));
    bool seen = false;
    for (const json& r : v["rows"]) {
      if (r["windows"] != "Windows 7" || r["administrator"] != false || r["silent"] != true) continue;
      seen = true;
      EXPECT_EQ(r["start"], "shell");
      EXPECT_EQ(r["verb"], m.verb) << m.elevation;
      EXPECT_EQ(r["noAdmin"], m.noAdmin) << m.elevation;
    }
    EXPECT_TRUE(seen);
  }
  // Halfwidth katakana: single bytes in code page 932.
  const std::string japanese = "\xef\xbd\xba\xef\xbe\x89\xef\xbe\x8a\xef\xbe\x9f\xef\xbd\xbf\xef\xbd\xba\xef\xbe\x9d";
  ASSERT_EQ(RunTool("build --launcher " + kLauncher + " --program64 " + kSetup64 + " --architecture-message '" +
                    japanese + "' --codepage 932 --detached --output " + dir_ + "/jp.exe").status, 0);
  const json jp = Json(RunTool("verify --json --codepage 932 " + dir_ + "/jp.exe"));
  EXPECT_EQ(jp["detached"], true);
  EXPECT_EQ(jp["rows"][0]["message"], japanese) << jp["rows"][0].dump();
  ASSERT_EQ(RunTool("build --launcher " + kLauncher + " --program32 " + kSetup32 + " --versions 'Windows 11' --output " +
                    dir_ + "/w11.exe").status, 0);
  EXPECT_EQ(Json(RunTool("inspect --json " + dir_ + "/w11.exe"))["header"]["allowedVersionNames"],
            json({"Windows 10"}));
}

// Authors sign their installers: the signature goes after the recorded end,
// where the launcher does not look. A build never keeps a signature that no
// longer covers the file, and inspect names a stale entry.
TEST_F(ToolTest, SignaturesStayValidAndStaleOnesAreFound) {
  const std::string sign = "cd '" + dir_ + "' && { [ -f key.pem ] || openssl req -x509 -newkey rsa:2048 -nodes"
                           " -keyout key.pem -out cert.pem -days 30 -subj '/CN=Example Software' >/dev/null 2>&1; }"
                           " && osslsigncode sign -certs cert.pem -key key.pem -n 'Example Setup' -in IN -out OUT"
                           " >sign.txt 2>&1 && osslsigncode verify -CAfile cert.pem -in OUT >verify.txt 2>&1";
  auto signAndVerify = [&](const std::string& in, const std::string& out) {
    std::string command = sign;
    command.replace(command.find("IN"), 2, in);
    command.replace(command.find("OUT"), 3, out);
    command.replace(command.find("OUT"), 3, out);
    return std::system(command.c_str()) == 0 && Slurp(dir_ + "/verify.txt").find("Signature verification: ok") !=
                                                     std::string::npos;
  };
  ASSERT_EQ(RunTool(BuildArgs(dir_ + "/setup.exe")).status, 0);
  ASSERT_TRUE(signAndVerify("setup.exe", "signed.exe")) << Slurp(dir_ + "/verify.txt");
  const json signedView = Json(RunTool("inspect --json " + dir_ + "/signed.exe"));
  EXPECT_EQ(signedView["signature"], true);
  EXPECT_EQ(signedView["problems"], json::array());
  EXPECT_EQ(RunTool("verify " + dir_ + "/signed.exe").status, 0);

  // A package built again on the signed one, and one on a signed launcher.
  ASSERT_EQ(RunTool("build --replace --launcher " + dir_ + "/signed.exe --program32 " + kSetup32 + " --output " +
                    dir_ + "/rebuilt.exe").status, 0);
  ASSERT_TRUE(signAndVerify(kLauncher, "signed-launcher.exe"));
  ASSERT_EQ(RunTool("build --replace --launcher " + dir_ + "/signed-launcher.exe --program32 " + kSetup32 +
                    " --output " + dir_ + "/on-signed-launcher.exe").status, 0);
  for (const char* name : {"rebuilt.exe", "on-signed-launcher.exe"}) {
    EXPECT_EQ(RunTool(std::string("inspect ") + dir_ + "/" + name).status, 0) << name;
    EXPECT_TRUE(signAndVerify(name, std::string("re-") + name)) << name << Slurp(dir_ + "/verify.txt");
    EXPECT_EQ(Slurp(dir_ + "/sign.txt").find("arning"), std::string::npos) << name << Slurp(dir_ + "/sign.txt");
  }
  // The signature cut off, its entry left: stale.
  const std::string whole = Slurp(dir_ + "/signed.exe"), unsigned_ = Slurp(dir_ + "/setup.exe");
  Spit(dir_ + "/stale.exe", whole.substr(0, unsigned_.size()));
  const Result stale = RunTool("inspect " + dir_ + "/stale.exe");
  EXPECT_EQ(stale.status, 1);
  EXPECT_NE(stale.output.find("certificate-table entry"), std::string::npos) << stale.output;
}

// The maker's file properties and icon. Bad ones are refused with exit 2 and
// nothing written; good ones are read back from the package by the PE
// reader, the icon's images byte for byte.
TEST_F(ToolTest, BrandingIsCheckedAndWrittenAsGiven) {
  const std::string icon = Slurp(kIcon);
  auto U32At = [&](size_t at) { return uint32_t(uint8_t(icon[at]) | uint8_t(icon[at + 1]) << 8 |
                                                uint8_t(icon[at + 2]) << 16 | uint32_t(uint8_t(icon[at + 3])) << 24); };
  auto patched = [&](size_t at, std::string bytes) { std::string c = icon; c.replace(at, bytes.size(), bytes); return c; };
  const size_t png = U32At(6 + 32 + 12);  // the third image is the PNG
  const std::pair<std::string, std::string> icons[] = {
      {"not an .ico file", "BM" + icon.substr(2)},
      {"no images", patched(4, std::string(2, '\0'))},
      {"list of images runs past", icon.substr(0, 40)},
      {"overlap", patched(6 + 16 + 12, icon.substr(6 + 12, 4))},
      {"header needs", patched(6 + 8, std::string("\x40\0\0\0", 4))},
      {"no PNG signature", patched(png + 1, "Q")},
      {"more than the 4 MiB", icon + std::string(4 << 20, '\0')},
  };
  int n = 0;
  for (const auto& [says, bytes] : icons) {
    Spit(dir_ + "/bad.ico", bytes);
    const Result r = RunTool(BuildArgs(dir_ + "/out.exe") + " --icon " + dir_ + "/bad.ico");
    EXPECT_EQ(r.status, 2) << says;
    EXPECT_NE(r.errors.find("--icon"), std::string::npos) << r.errors;
    EXPECT_NE(r.errors.find(says), std::string::npos) << says << ": " << r.errors;
    ++n;
  }
  const std::pair<std::string, std::string> options[] = {
      {"--product-version 1.2.3.4.5", "--product-version"},
      {"--file-version 1.65536", "--file-version"},
      {"--company \"$(printf 'Contoso\\tLtd')\"", "--company"},
      {"--description " + std::string(40000, 'x'), "--description"},
  };
  for (const auto& [words, option] : options) {
    const Result r = RunTool(BuildArgs(dir_ + "/out.exe") + " " + words);
    EXPECT_EQ(r.status, 2) << words.substr(0, 40);
    EXPECT_EQ(r.errors.rfind("setup-package: " + option, 0), 0u) << r.errors;
  }
  EXPECT_FALSE(Exists(dir_ + "/out.exe"));

  const std::string package = dir_ + "/branded.exe";
  ASSERT_EQ(RunTool(BuildArgs(package) + " --company 'Contoso Ltd' --product 'Contoso Suite' --product-version "
                    "2.3.4.5 --copyright '\xc2\xa9 Contoso' --icon " + kIcon).status, 0);
  const packaging::Bytes bytes = Bytes(package);
  pe::BrandingView view;
  std::string error;
  ASSERT_TRUE(pe::ReadBranding(bytes, &view, &error)) << error;
  ASSERT_TRUE(view.hasVersion);
  EXPECT_EQ(view.version.productVersion, (pe::VersionNumber{2, 3, 4, 5}));
  EXPECT_EQ(view.version.fileVersion, (pe::VersionNumber{2, 3, 4, 5}));
  const std::pair<const char*, std::u16string> strings[] = {
      {"CompanyName", u"Contoso Ltd"}, {"ProductName", u"Contoso Suite"},   {"ProductVersion", u"2.3.4.5"},
      {"FileVersion", u"2.3.4.5"},     {"LegalCopyright", u"\u00a9 Contoso"}, {"OriginalFilename", u"branded.exe"},
      {"FileDescription", u"Setup"}};  // not given: the launcher's own
  for (const auto& [key, value] : strings) {
    ASSERT_NE(view.version.Find(key), nullptr) << key;
    EXPECT_TRUE(*view.version.Find(key) == value) << key;
  }
  ASSERT_EQ(view.icons.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const std::string image = icon.substr(U32At(6 + 16 * i + 12), U32At(6 + 16 * i + 8));
    EXPECT_EQ(std::string(view.icons[i].data.begin(), view.icons[i].data.end()), image) << i;
  }
  // The base relocations moved behind the grown resources, whole.
  pe::ImageInfo branded, plain;
  const packaging::Bytes launcher = Bytes(kLauncher);
  ASSERT_TRUE(pe::Parse(bytes, &branded, &error) && pe::Parse(launcher, &plain, &error)) << error;
  ASSERT_GT(branded.relocationRva, plain.relocationRva);
  const uint32_t from = pe::RvaToOffset(plain, plain.relocationRva), to = pe::RvaToOffset(branded, branded.relocationRva);
  EXPECT_EQ(branded.relocationSize, plain.relocationSize);
  EXPECT_TRUE(std::equal(launcher.begin() + from, launcher.begin() + from + plain.relocationSize, bytes.begin() + to));
  const json in = Json(RunTool("inspect --json " + package));
  EXPECT_EQ(in["problems"], json::array());
  EXPECT_EQ(in["branding"]["icon"][2], json({{"width", 256}, {"height", 256}, {"bitCount", 32}, {"format", "png"},
                                             {"bytes", U32At(6 + 32 + 8)}}));
  EXPECT_EQ(RunTool("verify -q " + package).status, 0);

  // Signed inside build: a failing signer leaves nothing; a good one a signed
  // package whose package still checks.
  const Result failed = RunTool(BuildArgs(dir_ + "/signed.exe") + " --sign-command 'echo no key >&2; exit 4'");
  EXPECT_EQ(failed.status, 3);
  EXPECT_NE(failed.errors.find("(exit status 4): no key"), std::string::npos) << failed.errors;
  const Result unsigned_ = RunTool(BuildArgs(dir_ + "/signed.exe") + " --sign-command 'cp {in} {out}'");
  EXPECT_EQ(unsigned_.status, 3);
  EXPECT_NE(unsigned_.errors.find("no certificate"), std::string::npos) << unsigned_.errors;
  EXPECT_EQ(std::system(("ls -A '" + dir_ + "' | grep -q signed").c_str()) != 0, true) << "something was left";
  const std::string sign = "cd '" + dir_ + "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out "
                           "cert.pem -days 30 -subj /CN=Contoso >/dev/null 2>&1 && osslsigncode sign -certs cert.pem "
                           "-key key.pem -in {in} -out {out}";
  const Result done = RunTool(BuildArgs(dir_ + "/signed.exe") + " --sign-command \"" + sign + "\"");
  ASSERT_EQ(done.status, 0) << done.all();
  const json signedView = Json(RunTool("inspect --json " + dir_ + "/signed.exe"));
  EXPECT_EQ(signedView["signature"], true);
  EXPECT_EQ(signedView["problems"], json::array());
}

// Every code the tool prints is explained, and the schema lists exactly those,
// and exactly the version names and the releases verify runs on.
TEST_F(ToolTest, EveryCodeIsExplainedAndInTheSchema) {
  const json schema = json::parse(Slurp(SCHEMA));
  std::map<std::string, json> lists = {{"problem", json::array()}, {"row", json::array()}};
  for (const packaging::Code& c : packaging::AllCodes()) {
    lists[c.kind].push_back(c.name);
    const Result r = RunTool(std::string("explain ") + c.name);
    EXPECT_EQ(r.status, 0) << c.name;
    EXPECT_NE(r.output.find(c.meaning), std::string::npos) << c.name;
  }
  EXPECT_EQ(schema["$defs"]["problemCode"]["enum"], lists["problem"]);
  EXPECT_EQ(schema["$defs"]["rowReason"]["enum"], lists["row"]);
  EXPECT_EQ(RunTool("explain no-such-code").status, 2);
  // The version names and the simulated releases, as the tables have them.
  for (const launcher::VersionRowSpec& row : launcher::kVersionRows) lists["version"].push_back(row.name);
  for (const packaging::WindowsRelease& r : packaging::kWindowsReleases) lists["release"].push_back(packaging::ReleaseName(r));
  EXPECT_EQ(schema["$defs"]["versionName"]["enum"], lists["version"]);
  EXPECT_EQ(schema["$defs"]["windowsRelease"]["enum"], lists["release"]);
}

// A header whose optional header ends before the certificate entry: clearing
// a signature writes nothing past what the header holds.
TEST(PeImage, ClearingASignatureStaysInsideTheHeader) {
  packaging::Bytes tiny(376 + 24 + 96 + 64, 0xAA);
  std::fill(tiny.begin(), tiny.begin() + 376 + 24 + 96, 0);
  tiny[0] = 'M', tiny[1] = 'Z', tiny[60] = 376 & 0xFF, tiny[61] = 376 >> 8;
  for (auto [at, value] : {std::pair{376, 0x4550}, {380, 0x14C}, {396, 96}, {398, 0x102}, {400, 0x10B}, {492, 16}}) {
    launcher::StoreLe16(&tiny[at], static_cast<uint16_t>(value));
  }
  ASSERT_TRUE(pe::ClearSignatureAndChecksum(&tiny));
  EXPECT_EQ(std::count(tiny.end() - 64, tiny.end(), 0xAA), 64);
}

// Outputs appear all or none, and what was there stays: a name taken between
// adding and committing is left alone without --force, and when a later
// rename fails, --force puts back the file it had replaced.
TEST_F(ToolTest, OutputSetsLeaveTheFolderAsItWasOnFailure) {
  std::string error;
  {
    tool::OutputSet set(tool::Existing::kRefuse);
    ASSERT_GE(set.Add(dir_ + "/taken.exe", &error), 0) << error;
    Spit(dir_ + "/taken.exe", "someone else's");
    EXPECT_FALSE(set.Commit(&error));
  }
  EXPECT_EQ(Slurp(dir_ + "/taken.exe"), "someone else's");
  ASSERT_EQ(std::system(("mkdir '" + dir_ + "/sub'").c_str()), 0);
  Spit(dir_ + "/first.exe", "old first");
  {
    tool::OutputSet set(tool::Existing::kReplace);
    const int first = set.Add(dir_ + "/first.exe", &error), second = set.Add(dir_ + "/sub/second.exe", &error);
    ASSERT_GE(second, 0) << error;
    set.Write(first, reinterpret_cast<const uint8_t*>("new"), 3);
    ASSERT_EQ(std::system(("rm -rf '" + dir_ + "/sub'").c_str()), 0);  // the second rename fails
    EXPECT_FALSE(set.Commit(&error));
  }
  EXPECT_EQ(Slurp(dir_ + "/first.exe"), "old first");
  EXPECT_NE(std::system(("ls -A '" + dir_ + "' | grep -q setup-package").c_str()), 0) << "no temporary file left";
}

// Scripts read one JSON document from every --json call, whatever ends it,
// and an output that cannot be written is a failure.
TEST_F(ToolTest, EveryJsonCallPrintsOneDocumentAndOutputErrorsCount) {
  const Result wrong = RunTool("build --json --launcher " + kLauncher + " --program32 " + kSetup64 + " --output " +
                               dir_ + "/out.exe");
  EXPECT_EQ(wrong.status, 1);
  EXPECT_EQ(Json(wrong)["exitStatus"], 1);
  ASSERT_EQ(RunTool(BuildArgs(dir_ + "/setup.exe")).status, 0);
  EXPECT_EQ(RunTool("verify " + dir_ + "/setup.exe >/dev/full").status, 3);
  EXPECT_EQ(RunTool("inspect --json " + dir_ + "/setup.exe >&-").status, 3);
}

// Sizes at the edge: a recorded size one less than the program is what the
// launcher decodes and runs (a program one byte short of its last unit);
// a stream cut by 1000 bytes salvages the setup data and no program.
TEST_F(ToolTest, EdgeSizesAsTheLauncherTreatsThem) {
  const std::string shorter = Made("shorter.exe", [](auto&, auto& h) { h.payload32.uncompressedSize -= 1; });
  EXPECT_EQ(Json(RunTool("inspect --json " + shorter))["problems"], json::array());
  EXPECT_EQ(RunTool("verify -q " + shorter).status, 0);
  ASSERT_EQ(RunTool("extract -q " + shorter + " --output-dir " + dir_ + "/shorter").status, 0);
  EXPECT_EQ(Slurp(dir_ + "/shorter/setup32.exe").size(), Slurp(kSetup32).size() - 1);
  // A total size of 2^63 or more is negative to the launcher, which runs it.
  const std::string negative = Made("negative.exe", [](auto& l, auto&) { l.totalSizeHigh = 0x80000000u; });
  EXPECT_EQ(Json(RunTool("inspect --json " + negative))["problemCodes"], json::array());
  EXPECT_EQ(RunTool("verify -q " + negative).status, 0);
  const std::string cut = Made("cut.exe", [](auto&, auto& h) { h.payload32.compressedSize -= 1000; });
  EXPECT_EQ(RunTool("extract -q --salvage " + cut + " --output-dir " + dir_ + "/cut").status, 1);
  EXPECT_FALSE(Exists(dir_ + "/cut/setup32.exe"));
  EXPECT_TRUE(Exists(dir_ + "/cut/setup-data.bin"));
  // A CRC region of 0 bytes (its CRC 0) guards nothing; the launcher runs
  // the package, and inspect warns as build does.
  const json unguarded = Json(RunTool("inspect --json " + Made("unguarded.exe", [](auto& l, auto&) { l.crcLength = 0; })));
  EXPECT_EQ(unguarded["problems"], json::array());
  EXPECT_EQ(unguarded["warnings"].size(), 1u) << unguarded.dump();
  // A program of 0x7FFE0000 bytes (zeros after its start) is built, read in
  // pieces, and no 32-bit process holds it decoded.
  const std::string zeros = dir_ + "/zeros.exe", huge = dir_ + "/huge.exe";
  ASSERT_TRUE(std::filesystem::copy_file(kSetup32, zeros));
  ASSERT_EQ(truncate(zeros.c_str(), 0x7FFE0000), 0);
  const Result built = RunTool("build -q --lzma-preset 0 --launcher " + kLauncher + " --program32 " + zeros +
                               " --output " + huge);
  ASSERT_EQ(built.status, 0) << built.all();
  EXPECT_EQ(Json(RunTool("inspect --json " + huge))["problemCodes"], json::array({"payload-out-of-memory"}));
}

}  // namespace
