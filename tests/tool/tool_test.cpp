// setup-package as its users run it: round trips through build, inspect,
// verify and extract, its refusals, and a signed package.
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

namespace {

const std::string kTool = SETUP_PACKAGE;
const std::string kBuild = WINDOWS_BUILD_DIR;
const std::string kLauncher = kBuild + "/launcher.exe";

struct Result {
  int status;
  std::string output;  // standard output and standard error
};

Result RunTool(const std::string& arguments) {
  Result r{-1, ""};
  FILE* pipe = popen((kTool + " " + arguments + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return r;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.output.append(buffer, n);
  const int status = pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
  struct stat s;
  return stat(path.c_str(), &s) == 0;
}

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/setup-package-test-XXXXXX";
    dir_ = mkdtemp(name);
    std::ofstream(dir_ + "/data.bin") << "setup data for the program\n";
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string BuildArgs(const std::string& output) const {
    return "build --launcher " + kLauncher + " --program32 " + kBuild + "/sample_setup32.exe --program64 " + kBuild +
           "/sample_setup64.exe --setup-data " + dir_ + "/data.bin --architecture-message 'Wrong machine.'"
           " --version-message 'Not on %USER% \xc3\xa9' --versions 'Windows 7, later' --output " + output;
  }

  std::string dir_;
};

TEST_F(ToolTest, BuildInspectVerifyExtractRoundTrip) {
  const std::string package = dir_ + "/setup.exe";
  const Result built = RunTool(BuildArgs(package));
  ASSERT_EQ(built.status, 0) << built.output;

  const Result json = RunTool("inspect --json " + package);
  EXPECT_EQ(json.status, 0) << json.output;
  for (const char* fact : {"\"crcMatches\": true", "\"allowedVersionNames\": [\"Windows 7\", \"later\"]",
                           "\"architectureMessage\": \"Wrong machine.\"", "\"versionMessage\": \"Not on %USER% \xc3\xa9\"",
                           "\"name\": \"64-bit payload\"", "\"name\": \"setup data\"", "\"signature\": false",
                           "\"problems\": []"}) {
    EXPECT_NE(json.output.find(fact), std::string::npos) << fact << "\n" << json.output;
  }

  const Result verify = RunTool("verify " + package);
  EXPECT_EQ(verify.status, 0) << verify.output;
  for (const char* line : {"Windows 7              64-bit       runs the 64-bit program",
                           "Windows 7              64-bit  /32  runs the 32-bit program",
                           "Windows 7              32-bit       runs the 32-bit program",
                           "later (11.0)           64-bit       runs the 64-bit program",
                           "Windows 8              64-bit       shows \"Not on Windows 8 \xc3\xa9\"",
                           "Windows 6.4            32-bit       shows \"Not on Windows 6.4 \xc3\xa9\""}) {
    EXPECT_NE(verify.output.find(line), std::string::npos) << line << "\n" << verify.output;
  }

  const Result extracted = RunTool("extract " + package + " --output-dir " + dir_);
  ASSERT_EQ(extracted.status, 0) << extracted.output;
  EXPECT_EQ(Slurp(dir_ + "/setup32.exe"), Slurp(kBuild + "/sample_setup32.exe"));
  EXPECT_EQ(Slurp(dir_ + "/setup64.exe"), Slurp(kBuild + "/sample_setup64.exe"));
  EXPECT_EQ(Slurp(dir_ + "/setup-data.bin"), Slurp(dir_ + "/data.bin"));
}

TEST_F(ToolTest, SameInputsGiveTheSameBytes) {
  ASSERT_EQ(RunTool(BuildArgs(dir_ + "/a.exe")).status, 0);
  ASSERT_EQ(RunTool(BuildArgs(dir_ + "/b.exe")).status, 0);
  EXPECT_EQ(Slurp(dir_ + "/a.exe"), Slurp(dir_ + "/b.exe"));
}

TEST_F(ToolTest, ReplacingAPackageGivesWhatAFreshBuildGives) {
  ASSERT_EQ(RunTool(BuildArgs(dir_ + "/first.exe")).status, 0);
  const std::string again = "build --launcher " + dir_ + "/first.exe --program32 " + kBuild +
                            "/sample_setup32.exe --output " + dir_ + "/again.exe";
  const Result refused = RunTool(again);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.output.find("already carries a package"), std::string::npos) << refused.output;
  EXPECT_NE(refused.output.find("first.exe"), std::string::npos) << "names the file";
  EXPECT_FALSE(Exists(dir_ + "/again.exe"));
  ASSERT_EQ(RunTool(again + " --replace").status, 0);
  ASSERT_EQ(RunTool("build --launcher " + kLauncher + " --program32 " + kBuild + "/sample_setup32.exe --output " + dir_ +
                "/fresh.exe").status, 0);
  EXPECT_EQ(Slurp(dir_ + "/again.exe"), Slurp(dir_ + "/fresh.exe"));
}

struct Refusal {
  const char* arguments;  // after "build --output OUT"
  const char* says;
};

TEST_F(ToolTest, RefusesBadInputWithClearMessages) {
  std::system(("truncate -s 2G '" + dir_ + "/huge.exe'").c_str());
  const std::string samples = kBuild + "/sample_setup32.exe";
  const Refusal refusals[] = {
      {"--launcher /no/such/launcher.exe --program32 X", "/no/such/launcher.exe: cannot read"},
      {"--program32 /no/such/setup.exe", "/no/such/setup.exe: cannot read"},
      {"--versions 'Windows 7, Windows 12'", "unknown version name 'Windows 12'"},
      {"--lc 3 --lp 2", "--lc plus --lp must be at most 4"},
      {"--lc 9", "--lc takes 0 to 4"},
      {"--elevation 3", "--elevation takes 0, 1 or 2"},
      {"--crc-reach 4294967295", "--crc-reach takes payloads, whole or a byte count below 2 GiB"},
      {"--program32 HUGE", "setup programs must be smaller than 2 GiB"},
      {"--launcher SAMPLE", "no room for the package locator at offsets 128..255"},
  };
  for (const Refusal& r : refusals) {
    std::string arguments = r.arguments;
    auto replace = [&](const std::string& word, const std::string& with) {
      for (size_t at = arguments.find(word); at != std::string::npos; at = arguments.find(word)) {
        arguments.replace(at, word.size(), with);
      }
    };
    replace("HUGE", dir_ + "/huge.exe");
    replace("SAMPLE", samples);
    if (arguments.find("--launcher") == std::string::npos) arguments = "--launcher " + kLauncher + " " + arguments;
    if (arguments.find("--program32") == std::string::npos) arguments += " --program32 " + samples;
    const Result result = RunTool("build --output " + dir_ + "/out.exe " + arguments);
    EXPECT_EQ(result.status, 1) << arguments << "\n" << result.output;
    EXPECT_NE(result.output.find(r.says), std::string::npos) << arguments << "\n" << result.output;
    EXPECT_FALSE(Exists(dir_ + "/out.exe")) << arguments;
  }
}

TEST_F(ToolTest, UnwritableOutputLeavesNothing) {
  const Result result = RunTool(BuildArgs(dir_ + "/missing/setup.exe"));
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("missing/setup.exe: cannot write"), std::string::npos) << result.output;
  EXPECT_FALSE(Exists(dir_ + "/missing/setup.exe.partial"));
}

TEST_F(ToolTest, VerifyAndInspectReportDamageAndRefusals) {
  const std::string package = dir_ + "/setup.exe";
  ASSERT_EQ(RunTool(BuildArgs(package)).status, 0);
  std::string bytes = Slurp(package);
  const uint32_t header = uint8_t(bytes[128]) | uint8_t(bytes[129]) << 8 | uint8_t(bytes[130]) << 16 |
                          uint32_t(uint8_t(bytes[131])) << 24;
  bytes[header + 100] ^= 0x55;  // inside the first payload, inside the CRC region
  std::ofstream(dir_ + "/damaged.exe", std::ios::binary) << bytes;
  const Result damaged = RunTool("verify " + dir_ + "/damaged.exe");
  EXPECT_EQ(damaged.status, 1);
  EXPECT_NE(damaged.output.find("It has most likely been damaged"), std::string::npos) << damaged.output;
  EXPECT_NE(damaged.output.find("the package runs on no machine"), std::string::npos);
  const Result inspected = RunTool("inspect " + dir_ + "/damaged.exe");
  EXPECT_EQ(inspected.status, 1);
  EXPECT_NE(inspected.output.find("CRC-32 of the CRC region does not match"), std::string::npos) << inspected.output;

  ASSERT_EQ(RunTool("build --launcher " + kLauncher + " --program64 " + kBuild + "/sample_setup64.exe --versions 'Windows 98'"
                " --output " + dir_ + "/nowhere.exe").status, 0);
  const Result nowhere = RunTool("verify " + dir_ + "/nowhere.exe");
  EXPECT_EQ(nowhere.status, 1);
  EXPECT_NE(nowhere.output.find("the package runs on no machine"), std::string::npos) << nowhere.output;

  const Result bare = RunTool("inspect " + kLauncher);
  EXPECT_EQ(bare.status, 1);
  EXPECT_NE(bare.output.find("no package attached"), std::string::npos) << bare.output;
}

TEST_F(ToolTest, HelpForTheProgramAndEachCommand) {
  for (const char* command : {"--help", "build --help", "inspect --help", "verify --help", "extract --help"}) {
    const Result r = RunTool(command);
    EXPECT_EQ(r.status, 0) << command;
    EXPECT_NE(r.output.find("usage: setup-package"), std::string::npos) << command;
  }
  EXPECT_EQ(RunTool("").status, 2);
  EXPECT_EQ(RunTool("frobnicate").status, 2);
}

// Authors sign their installers: the signature goes after the recorded end,
// where the launcher does not look. (The signed package runs under Wine in
// the end-to-end tests.)
TEST_F(ToolTest, SignedPackageStaysValidAndShowsItsSignature) {
  const std::string package = dir_ + "/setup.exe";
  ASSERT_EQ(RunTool(BuildArgs(package)).status, 0);
  const std::string sign =
      "cd '" + dir_ + "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 30"
      " -subj '/CN=Example Software' >/dev/null 2>&1 && osslsigncode sign -certs cert.pem -key key.pem"
      " -n 'Example Setup' -in setup.exe -out signed.exe >/dev/null 2>&1 && osslsigncode verify -CAfile cert.pem"
      " -in signed.exe >verify.txt 2>&1";
  ASSERT_EQ(std::system(sign.c_str()), 0) << Slurp(dir_ + "/verify.txt");
  EXPECT_NE(Slurp(dir_ + "/verify.txt").find("Signature verification: ok"), std::string::npos)
      << Slurp(dir_ + "/verify.txt");
  const Result inspected = RunTool("inspect --json " + dir_ + "/signed.exe");
  EXPECT_EQ(inspected.status, 0) << inspected.output;
  EXPECT_NE(inspected.output.find("\"signature\": true"), std::string::npos) << inspected.output;
  EXPECT_NE(inspected.output.find("\"name\": \"signature (certificate table)\""), std::string::npos);
  EXPECT_EQ(RunTool("verify " + dir_ + "/signed.exe").status, 0);
}

}  // namespace
