// setup-package verify: its rows where Windows does not start the file, where
// the launcher is modified, where memory decides, and at the edges of sizes.
#include "tests/tool/tool_run.h"

namespace {

using namespace tool_test;

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
  // extract refuses it as any other problem, unless --salvage.
  EXPECT_EQ(RunTool("extract " + dir_ + "/int3.exe --output-dir " + dir_ + "/int3").status, 1);
  EXPECT_FALSE(Exists(dir_ + "/int3/setup32.exe"));
  EXPECT_EQ(RunTool("extract -q --salvage " + dir_ + "/int3.exe --output-dir " + dir_ + "/int3").status, 1);
  EXPECT_TRUE(Exists(dir_ + "/int3/setup32.exe"));
  // A tool with no launcher beside it compares nothing and says so;
  // --reference-launcher names the launcher to compare with.
  const std::string copy = dir_ + "/bin/setup-package";
  std::filesystem::create_directories(dir_ + "/bin");
  std::filesystem::copy_file(kTool, copy);
  const Result alone = RunTool("inspect --json " + dir_ + "/int3.exe", copy);
  EXPECT_EQ(alone.status, 0) << alone.all();
  EXPECT_NE(Json(alone)["warnings"].dump().find("not compared"), std::string::npos) << alone.output;
  EXPECT_EQ(RunTool("verify -q --strict " + Made("good.exe", nullptr), copy).status, 1);
  const Result given = RunTool("inspect --json --reference-launcher " + kLauncher + " " + dir_ + "/int3.exe", copy);
  EXPECT_EQ(Json(given)["problemCodes"], json::array({"launcher-modified"})) << given.output;
  EXPECT_EQ(RunTool("inspect --reference-launcher " + dir_ + "/none.exe " + dir_ + "/good.exe").status, 3);
}

// The launcher is compared as far as its own headers and sections reach:
// with the locator wrong, it is still the shipped one, and every row has a
// verdict (the damaged-package message).
TEST_F(ToolTest, AWrongLocatorLeavesTheLauncherKnown) {
  for (const uint32_t offset : {0x7FFFFFFFu, 70000u, 1000u}) {
    const std::string package = Made("locator-" + std::to_string(offset) + ".exe", nullptr);
    std::string bytes = Slurp(package);
    launcher::StoreLe32(reinterpret_cast<uint8_t*>(&bytes[128]), offset);  // the field alone, nothing moved
    Spit(package, bytes);
    const json codes = Json(RunTool("inspect --json " + package))["problemCodes"];
    EXPECT_EQ(std::count(codes.begin(), codes.end(), "launcher-modified"), 0) << offset << " " << codes;
    const json rows = Json(RunTool("verify --json " + package));
    EXPECT_EQ(rows["notCheckedRows"], 0) << offset;
    EXPECT_GT(rows["damagedRows"], 0) << offset << rows.dump();
  }
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
                        Case{1936u << 20, "runtime error", 1936, "needs 1936 MiB in one block: more than this process"},
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
    EXPECT_EQ(std::count(codes.begin(), codes.end(), "runtime-error-rows"), c.mib != 1280 ? 1 : 0) << codes;
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
  EXPECT_EQ(h["rows"][0]["reason"], "address-space-decides");
  EXPECT_EQ(h["rows"][0]["otherwise"], "runtime error");
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

// Sizes at the edge: a recorded size one less than the program is what the
// launcher decodes and runs (a program one byte short of its last unit);
// a stream cut by 1000 bytes salvages the setup data and no program.
TEST_F(ToolTest, EdgeSizesAsTheLauncherTreatsThem) {
  const std::string shorter = Made("shorter.exe", [](auto&, auto& h) { h.payload32.uncompressedSize -= 1; });
  EXPECT_EQ(Json(RunTool("inspect --json " + shorter))["problems"], json::array());
  EXPECT_EQ(RunTool("verify -q " + shorter).status, 0);
  ASSERT_EQ(RunTool("extract -q " + shorter + " --output-dir " + dir_ + "/shorter").status, 0);
  EXPECT_EQ(Slurp(dir_ + "/shorter/setup32.exe").size(), Slurp(kSetup32).size() - 1);
  // A total size of 2^63 or more is negative to the launcher, which runs it;
  // a setup program reading its data's end from it would not: a problem.
  const std::string negative = Made("negative.exe", [](auto& l, auto&) { l.totalSizeHigh = 0x80000000u; });
  EXPECT_EQ(Json(RunTool("inspect --json " + negative))["problemCodes"], json({"total-size-negative"}));
  const json rows = Json(RunTool("verify --json " + negative));
  EXPECT_EQ(rows["rows"][0]["outcome"], "runs") << rows["rows"][0];
  EXPECT_EQ(RunTool("verify -q " + negative).status, 1);
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
  EXPECT_EQ(Json(RunTool("inspect --json " + huge))["problemCodes"], json::array({"payload-out-of-memory", "runtime-error-rows"}));
}

}  // namespace
