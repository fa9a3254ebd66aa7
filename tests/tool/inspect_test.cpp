// setup-package inspect on damaged and hostile packages and inputs, and text
// from packages shown as data.
#include "tests/tool/tool_run.h"

namespace {

using namespace tool_test;

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
  // A cut package shows the truncated message on every row, and each counts.
  std::string whole = Slurp(Made("whole.exe", nullptr));
  Spit(dir_ + "/cut.exe", whole.substr(0, whole.size() - 100));
  const json cut = Json(RunTool("verify --json " + dir_ + "/cut.exe"));
  EXPECT_EQ(cut["damagedRows"], cut["rows"].size());
  for (const json& row : cut["rows"]) EXPECT_EQ(row["reason"], "truncated-package") << row.dump();
  const Result verified = RunTool("verify " + Made("damaged.exe", nullptr, [](packaging::PackageInput& in) {
    in.adjust = [](auto&, auto& h) { h.payload32.offset += 1; };
  }));
  EXPECT_EQ(verified.status, 1);
  EXPECT_NE(verified.output.find("rows show the damaged or truncated package message"), std::string::npos)
      << verified.output;
}

// A file that carries no package is named so, with one sentence and its
// code, by every command; nothing is made up from its bytes.
TEST_F(ToolTest, FilesWithoutAPackageAreNamedSo) {
  Spit(dir_ + "/text.txt", std::string(1000, 'x'));
  Spit(dir_ + "/short.txt", "hello\n");
  const std::pair<std::string, const char*> files[] = {
      {kTool, "not-a-package"}, {dir_ + "/text.txt", "not-a-package"}, {kSetup32, "not-a-package"},
      {dir_ + "/short.txt", "file-too-short"}, {kLauncher, "no-package"}};
  for (const auto& [file, code] : files) {
    const Result text = RunTool("inspect " + file);
    EXPECT_EQ(text.status, 1) << file;
    EXPECT_EQ(text.output.rfind(file + " carries no package: ", 0), 0u) << text.output;
    EXPECT_EQ(Json(RunTool("inspect --json " + file))["problemCodes"], json::array({code})) << file;
    const Result verified = RunTool("verify " + file);
    EXPECT_EQ(verified.status, 1) << file;
    EXPECT_NE(verified.output.find(file + " carries no package: "), std::string::npos) << verified.output;
    const Result extracted = RunTool("extract " + file + " --output-dir " + dir_ + "/out");
    EXPECT_EQ(extracted.status, 1) << file;
    EXPECT_NE(extracted.errors.find("carries no package"), std::string::npos) << extracted.errors;
  }
  EXPECT_FALSE(Exists(dir_ + "/out"));
  // A program Windows starts is not this launcher: verify has no rows for it.
  EXPECT_EQ(Json(RunTool("verify --json " + kSetup32))["rows"], json::array());
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

}  // namespace
