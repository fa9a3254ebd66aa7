// setup-package build: the same inputs give the same bytes, each refusal its exit
// status, warnings, the package file on the command line, outputs and
// signatures, the maker's properties.
#include "tests/tool/tool_run.h"

namespace {

using namespace tool_test;

// The package's own file name is in its version resource: the same name in
// two folders.
TEST_F(ToolTest, SameInputsGiveTheSameBytes) {
  ASSERT_EQ(std::system(("mkdir '" + dir_ + "/a' '" + dir_ + "/b'").c_str()), 0);
  const std::string brand = " --company 'Contoso Ltd' --product-version 2.3 --icon " + kIcon;
  ASSERT_EQ(RunTool(BuildArgs(dir_ + "/a/setup.exe") + brand).status, 0);
  ASSERT_EQ(RunTool(BuildArgs(dir_ + "/b/setup.exe") + brand).status, 0);
  EXPECT_EQ(Slurp(dir_ + "/a/setup.exe"), Slurp(dir_ + "/b/setup.exe"));
  // Both programs compressed at once give the bytes one thread gives.
  for (const char* options : {"", " --crc-reach whole --lzma-preset 9", " --detached --dictionary 65536 --lc 0 --lp 2"}) {
    for (const char* threads : {"1", "2"}) {
      std::filesystem::create_directories(dir_ + "/threads-" + threads);
      ASSERT_EQ(RunTool(BuildArgs(dir_ + "/threads-" + threads + "/setup.exe") + options + " --threads " + threads).status, 0);
    }
    EXPECT_EQ(Slurp(dir_ + "/threads-1/setup.exe"), Slurp(dir_ + "/threads-2/setup.exe")) << options;
  }
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
  packaging::Bytes headers = Bytes(kLauncher);
  launcher::StoreLe32(&headers[launcher::LoadLe32(&headers[60]) + 24 + 60], 0xFFFFFFFF);
  Spit(dir_ + "/launcher-headers.exe", std::string(headers.begin(), headers.end()));
  packaging::Bytes tiny(376 + 24 + 96);
  tiny[0] = 'M', tiny[1] = 'Z', tiny[60] = 376 & 0xFF, tiny[61] = 376 >> 8;
  for (auto [at, value] : {std::pair{376, 0x4550}, {380, 0x14C}, {396, 96}, {398, 0x102}, {400, 0x10B}, {492, 16}}) {
    launcher::StoreLe16(&tiny[at], static_cast<uint16_t>(value));
  }
  Spit(dir_ + "/tiny.exe", std::string(tiny.begin(), tiny.end()));
  const Call calls[] = {
      {"--launcher DIR/launcher-dll.exe --program32 P32", 1, "launcher-dll.exe: a DLL, not a program"},
      {"--replace --launcher DIR/tiny.exe --program32 P32", 1, "tiny.exe"},
      {"--launcher DIR/launcher-headers.exe --program32 P32", 1, "SizeOfHeaders (4294967295) runs past the end"},
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
      {"--launcher L --program32 P32 --setup-data DIR/fifo", 3, "DIR/fifo: not a regular file"},
      {"--launcher L --program32 P32 --version-message-file DIR/long.txt", 2,
       "--version-message: 70000 UTF-16 units, more than the 65535"},
      {"--launcher L", 2, "give --program32, --program64 or both"},
      // Overlong UTF-8 ("/" as C0 AF, as E0 80 AF) is no UTF-8.
      {"--launcher L --program32 P32 --version-message \"$(printf '\\300\\257')\"", 2, "--version-message: the text is not UTF-8"},
      {"--launcher L --program32 P32 --company \"$(printf '\\340\\200\\257')\"", 2, "--company: the text is not UTF-8"},
  };
  for (const Call& c : calls) {
    const std::string arguments = Expand(c.arguments, dir_);
    const Result r = RunTool("build --output " + dir_ + "/out.exe " + arguments);
    EXPECT_EQ(r.status, c.status) << arguments << "\n" << r.all();
    EXPECT_NE(r.errors.find(Expand(c.says, dir_)), std::string::npos) << arguments << "\n" << r.all();
    EXPECT_FALSE(Exists(dir_ + "/out.exe")) << arguments;
  }
  // A tool with no launcher beside it needs --launcher.
  std::filesystem::create_directories(dir_ + "/bin");
  std::filesystem::copy_file(kTool, dir_ + "/bin/setup-package");
  const Result alone = RunTool("build --program32 " + kSetup32 + " --output " + dir_ + "/out.exe", dir_ + "/bin/setup-package");
  EXPECT_EQ(alone.status, 2);
  EXPECT_NE(alone.errors.find("--launcher is required"), std::string::npos) << alone.errors;
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
      // 300 characters: a message long enough to move the package's end past
      // an odd boundary (the checksum's last word then holds one byte).
      {"--version-message 'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx' --architecture-message y", 0, ""},
  };
  for (const Call& c : calls) {
    const std::string arguments = Expand(c.arguments, dir_);
    const Result r = RunTool("build --launcher " + kLauncher + " --program32 " + kSetup32 + " --output " + dir_ +
                             "/out.exe " + arguments);
    EXPECT_EQ(r.status, c.status) << arguments << "\n" << r.all();
    if (*c.says != 0) EXPECT_NE(r.errors.find(c.says), std::string::npos) << arguments << "\n" << r.all();
    else EXPECT_EQ(r.errors, "") << arguments;
    EXPECT_TRUE(Exists(dir_ + "/out.exe")) << arguments;
    // What was built is what inspect reads back: its checksum the whole
    // file's, its CRC region as given.
    const std::string file = Slurp(dir_ + "/out.exe");
    const packaging::Bytes bytes(file.begin(), file.end());
    pe::ImageInfo image;
    std::string why;
    ASSERT_TRUE(pe::Parse(bytes, &image, &why)) << why;
    EXPECT_EQ(image.checkSum, pe::Checksum(bytes, image.checkSumOffset)) << arguments;
    const json inspected = Json(RunTool("inspect --json " + dir_ + "/out.exe"));
    EXPECT_EQ(inspected["problems"], json::array()) << arguments;
    if (arguments == "--crc-reach 66") EXPECT_EQ(inspected["locator"]["crcLength"], 66);
    std::remove((dir_ + "/out.exe").c_str());
  }
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

// A package file holds every option and the command line overrides it (what
// each key takes, and how a bad one is named: package_file_test.cpp).
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
  // A flag the file sets holds unless the command line sets it.
  Spit(dir_ + "/project/detached.toml", "program32 = \"sample_setup32.exe\"\ndetached = true\n");
  for (const auto& [words, detached] : {std::make_pair("", true), std::make_pair(" --detached=false", false)}) {
    ASSERT_EQ(RunTool("build --launcher " + kLauncher + " --config " + dir_ + "/project/detached.toml --output " +
                      dir_ + "/flag.exe" + words).status, 0) << words;
    EXPECT_EQ(Json(RunTool("inspect --json " + dir_ + "/flag.exe"))["locator"]["detachedSize"] != 0, detached) << words;
  }
  // An empty sign command switches the file's off.
  Spit(dir_ + "/project/signed.toml", "program32 = \"sample_setup32.exe\"\nsign-command = \"exit 7\"\n");
  const Result unsigned_ = RunTool("build --launcher " + kLauncher + " --config " + dir_ + "/project/signed.toml" +
                                   " --output " + dir_ + "/unsigned.exe --sign-command ''");
  EXPECT_EQ(unsigned_.status, 0) << unsigned_.all();
  // An output the file names that cannot be written says where the file's
  // paths lead; -v says what is read and how it is compressed.
  Spit(dir_ + "/project/nowhere.toml", "program32 = \"sample_setup32.exe\"\noutput = \"missing/out.exe\"\n");
  const Result nowhere = RunTool("-v build --launcher " + kLauncher + " --config " + dir_ + "/project/nowhere.toml");
  EXPECT_EQ(nowhere.status, 3);
  EXPECT_NE(nowhere.errors.find("relative to its folder, " + dir_ + "/project"), std::string::npos) << nowhere.errors;
  for (const char* says : {"32-bit program: ", "sample_setup32.exe (", "compressing: LZMA1, preset 6", "writing: "}) {
    EXPECT_NE(nowhere.errors.find(says), std::string::npos) << says << "\n" << nowhere.errors;
  }
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
  // Each refusal is the reader's (icon_file_test.cpp, version_resource_test.cpp);
  // build names the option and writes nothing.
  Spit(dir_ + "/bad.ico", "BM" + icon.substr(2));
  const std::pair<std::string, std::string> options[] = {
      {"--icon " + dir_ + "/bad.ico", "--icon"},
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
  // A command that says a great deal on one line: the tool keeps its end,
  // and says the end of its last line.
  const Result talkative = RunTool(BuildArgs(dir_ + "/signed.exe") +
                                   " --sign-command 'head -c 30000000 /dev/zero | tr \"\\\\0\" x >&2; echo the end >&2; exit 5'");
  EXPECT_EQ(talkative.status, 3);
  EXPECT_NE(talkative.errors.find("(exit status 5): ...xxx"), std::string::npos) << talkative.errors.substr(0, 200);
  EXPECT_NE(talkative.errors.find("xthe end"), std::string::npos) << talkative.errors.substr(0, 200);
  EXPECT_LT(talkative.errors.size(), 1000u);
  const Result unsigned_ = RunTool(BuildArgs(dir_ + "/signed.exe") + " --sign-command 'cp {in} {out}'");
  EXPECT_EQ(unsigned_.status, 3);
  EXPECT_NE(unsigned_.errors.find("no certificate"), std::string::npos) << unsigned_.errors;
  EXPECT_EQ(std::system(("ls -A '" + dir_ + "' | grep -q signed").c_str()) != 0, true) << "something was left";
  const std::string sign = "cd '" + dir_ + "' && { [ -f key.pem ] || openssl req -x509 -newkey rsa:2048 -nodes -keyout "
                           "key.pem -out cert.pem -days 30 -subj /CN=Contoso >/dev/null 2>&1; } && osslsigncode sign "
                           "-certs cert.pem -key key.pem -in {in} -out {out}";
  const Result done = RunTool(BuildArgs(dir_ + "/signed.exe") + " --sign-command \"" + sign + "\"");
  ASSERT_EQ(done.status, 0) << done.all();
  const json signedView = Json(RunTool("inspect --json " + dir_ + "/signed.exe"));
  EXPECT_EQ(signedView["signature"], true);
  EXPECT_EQ(signedView["problems"], json::array());
  // The programs inside unsigned: a warning (an error with --strict) where
  // Windows would show an unknown publisher, for build as for verify.
  const char* unknown = "Windows shows the temporary copy's publisher";
  EXPECT_NE(done.errors.find(unknown), std::string::npos) << done.errors;
  EXPECT_NE(RunTool("verify " + dir_ + "/signed.exe").errors.find(unknown), std::string::npos);
  EXPECT_EQ(RunTool("verify -q --strict " + dir_ + "/signed.exe").status, 1);
  // --sign-programs: each program signed before it is compressed, the
  // author's files untouched; a signer that signs nothing leaves nothing.
  const std::string before = Slurp(kSetup32);
  const Result programs = RunTool(BuildArgs(dir_ + "/all-signed.exe") + " --sign-programs --sign-command \"" + sign + "\"");
  ASSERT_EQ(programs.status, 0) << programs.all();
  EXPECT_EQ(programs.errors.find(unknown), std::string::npos) << programs.errors;
  EXPECT_EQ(Slurp(kSetup32), before);
  const json all = Json(RunTool("inspect --json " + dir_ + "/all-signed.exe"))["signatures"];
  for (const char* part : {"package", "program32", "program64"}) EXPECT_EQ(all[part]["certificateTable"], true) << all;
  ASSERT_EQ(RunTool("extract -q " + dir_ + "/all-signed.exe --output-dir " + dir_ + "/all").status, 0);
  for (const char* program : {"setup32.exe", "setup64.exe"}) {
    EXPECT_EQ(std::system(("osslsigncode verify -CAfile '" + dir_ + "/cert.pem' -in '" + dir_ + "/all/" + program +
                           "' >/dev/null 2>&1").c_str()), 0) << program;
  }
  const Result none = RunTool(BuildArgs(dir_ + "/none.exe") + " --sign-programs --sign-command 'cp {in} {out}'");
  EXPECT_EQ(none.status, 3);
  EXPECT_NE(none.errors.find("sample_setup32.exe: --sign-command: the signed copy carries no certificate table"),
            std::string::npos) << none.errors;
  EXPECT_FALSE(Exists(dir_ + "/none.exe"));
  EXPECT_EQ(RunTool(BuildArgs(dir_ + "/none.exe") + " --sign-programs").status, 2);
  EXPECT_NE(std::system(("ls -A '" + dir_ + "' | grep -q setup-package").c_str()), 0) << "no scratch file left";
}

}  // namespace
