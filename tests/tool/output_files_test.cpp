// The output set: all or none, and what was there stays.
#include "tests/tool/tool_run.h"

namespace {

using namespace tool_test;

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
  // A first output under a new name goes again when a later rename fails.
  ASSERT_EQ(std::system(("mkdir '" + dir_ + "/sub'").c_str()), 0);
  {
    tool::OutputSet set(tool::Existing::kReplace);
    ASSERT_GE(set.Add(dir_ + "/new.exe", &error), 0) << error;
    ASSERT_GE(set.Add(dir_ + "/sub/second.exe", &error), 0) << error;
    ASSERT_EQ(std::system(("rm -rf '" + dir_ + "/sub'").c_str()), 0);
    EXPECT_FALSE(set.Commit(&error));
  }
  EXPECT_FALSE(Exists(dir_ + "/new.exe"));
  // A folder is never an output, even with --force, and stays as it was.
  ASSERT_EQ(std::system(("mkdir '" + dir_ + "/folder' && touch '" + dir_ + "/folder/kept'").c_str()), 0);
  {
    tool::OutputSet set(tool::Existing::kReplace);
    EXPECT_LT(set.Add(dir_ + "/folder", &error), 0);
    EXPECT_NE(error.find("folder"), std::string::npos) << error;
  }
  EXPECT_TRUE(Exists(dir_ + "/folder/kept"));
  EXPECT_NE(std::system(("ls -A '" + dir_ + "' | grep -q setup-package").c_str()), 0) << "no temporary file left";
}

}  // namespace
