// setup-package as a whole: a round trip through every command, the command
// line's conventions, one JSON document from every --json call, and every
// code explained and in the schema.
#include "tests/tool/tool_run.h"

namespace {

using namespace tool_test;

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
      {"inspec L", 2, "unknown command 'inspec' (did you mean inspect?)"},
      {"build --confg DIR/x.toml", 2, "--confg (did you mean --config?)"},
      {"verify --jsn L", 2, "(did you mean --json?)"},
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
  // An empty value after "=" is empty: the next word is no value.
  ASSERT_EQ(RunTool("build --launcher " + kLauncher + " --program32 " + kSetup32 + " --output " + dir_ +
                    "/empty.exe --version-message= --detached").status, 0);
  const json empty = Json(RunTool("inspect --json " + dir_ + "/empty.exe"));
  EXPECT_EQ(empty["header"]["versionMessage"], "");
  EXPECT_NE(empty["locator"]["detachedSize"], 0);
  // With --json, usage and file errors are JSON documents too.
  for (const auto& [arguments, status] : {std::pair<std::string, int>{"inspect --json /no/such.exe", 3},
                                          std::pair<std::string, int>{"verify --json --codepage 1 L", 2}}) {
    const json j = Json(RunTool(Expand(arguments, dir_)));
    EXPECT_EQ(j["exitStatus"], status) << arguments;
    EXPECT_TRUE(j["error"].is_string()) << arguments;
  }
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

}  // namespace
