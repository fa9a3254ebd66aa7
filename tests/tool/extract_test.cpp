// setup-package extract: cut packages, and nothing overwritten unasked.
#include "tests/tool/tool_run.h"

namespace {

using namespace tool_test;

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

}  // namespace
