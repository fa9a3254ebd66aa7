#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launcher/arguments.h"
#include "platform/sim/sim_machine.h"

namespace {

std::vector<std::string> Split(const std::string& commandLine) {
  std::vector<std::string> out;
  const int32_t count = launcher::CountArguments(commandLine.c_str());
  for (int32_t i = 1; i <= count; ++i) out.push_back(launcher::ArgumentOf(commandLine.c_str(), i).Chars());
  return out;
}

using Args = std::vector<std::string>;

struct SplitCase {
  const char* commandLine;
  Args arguments;
};

const SplitCase kSplits[] = {
    {"setup.exe", {}},
    {"\"C:\\Program Files\\setup.exe\" /s", {"/s"}},
    {"C:\\Program Files\\setup.exe /s", {"Files\\setup.exe", "/s"}},
    {"setup.exe /temp \"D:\\My Folder\"", {"/temp", "D:\\My Folder"}},
    {"setup.exe a\"b c\"d", {"ab cd"}},
    {"setup.exe x\"\"y", {"xy"}},
    {"setup.exe a \"\" b \"\"", {"a", "b"}},
    {"setup.exe \" \"", {" "}},
    {"setup.exe a\tb\r\nc", {"a", "b", "c"}},
    {"setup.exe \"a\tb\" \"c\nd\"", {"a\tb", "c\nd"}},
    {"setup.exe a \"", {"a"}},
    {"setup.exe a \"b", {"a", "b"}},
    {"setup.exe \"a b", {"a b"}},
    {"  setup.exe   one   two  ", {"one", "two"}},
    {"\"\"setup.exe x", {"x"}},
    {"setup.exe \x01one\x1ftwo", {"one", "two"}},
    {"setup.exe \"\"\"a\"\"\"", {"a"}},
};

class SplitTest : public ::testing::TestWithParam<SplitCase> {
 protected:
  void SetUp() override { machine_.Install(); }
  sim::Machine machine_;
};

// The list a run keeps, and what Argument and ArgumentCount read from it.
std::vector<std::string> SplitOnce(const std::string& commandLine) {
  launcher::ArgumentList list(commandLine.c_str());
  std::vector<std::string> out;
  for (int32_t i = 1; i <= list.Count(); ++i) out.push_back(list.At(i));
  if (std::string(list.At(list.Count() + 1)) != "" || std::string(list.At(0)) != "") out.push_back("(past the ends)");
  return out;
}

std::vector<std::string> ThroughKeptList(sim::Machine* machine, const std::string& commandLine) {
  machine->commandLine = commandLine;
  launcher::ArgumentList list(commandLine.c_str());
  launcher::UseArgumentList(&list);
  machine->commandLine = "changed afterwards";  // read once: the kept list answers
  std::vector<std::string> out;
  for (int32_t i = 1; i <= launcher::ArgumentCount(); ++i) out.push_back(launcher::Argument(i).Chars());
  launcher::UseArgumentList(nullptr);
  return out;
}

TEST_P(SplitTest, GivesTheArguments) {
  EXPECT_EQ(Split(GetParam().commandLine), GetParam().arguments) << GetParam().commandLine;
  EXPECT_EQ(SplitOnce(GetParam().commandLine), GetParam().arguments) << GetParam().commandLine;
  EXPECT_EQ(ThroughKeptList(&machine_, GetParam().commandLine), GetParam().arguments) << GetParam().commandLine;
}

INSTANTIATE_TEST_SUITE_P(CommandLines, SplitTest, ::testing::ValuesIn(kSplits));

class ArgumentsTest : public ::testing::Test {
 protected:
  void SetUp() override { machine_.Install(); }
  sim::Machine machine_;
};

TEST_F(ArgumentsTest, ProcessArgumentsComeFromTheMachine) {
  machine_.commandLine = "\"C:\\Other Name.exe\" /32 \"with blank\"";
  machine_.modulePath = "C:\\Real\\setup.exe";
  EXPECT_EQ(launcher::ArgumentCount(), 2);
  EXPECT_STREQ(launcher::Argument(0).Chars(), "C:\\Real\\setup.exe") << "the module, not the token";
  EXPECT_STREQ(launcher::Argument(1).Chars(), "/32");
  EXPECT_STREQ(launcher::Argument(2).Chars(), "with blank");
  EXPECT_STREQ(launcher::Argument(3).Chars(), "");
}

TEST_F(ArgumentsTest, ModulePathHasRoomFor260Characters) {
  machine_.modulePath = "C:\\" + std::string(300, 'a');
  EXPECT_EQ(launcher::Argument(0).Length(), 260);
}

// In code page 932 a trail byte may equal a double quote or a blank; it
// belongs to its character and neither quotes nor separates.
TEST_F(ArgumentsTest, DoubleByteCharactersAreWalkedWhole) {
  machine_.codePage = 932;
  const std::string quoteTrail = "\x81\x22";  // lead byte 0x81, trail byte '"'
  const std::string blankTrail = "\x83\x20";
  EXPECT_EQ(Split("setup.exe a" + quoteTrail + "b c"), (Args{"a" + quoteTrail + "b", "c"}));
  EXPECT_EQ(Split("setup.exe x" + blankTrail + "y z"), (Args{"x" + blankTrail + "y", "z"}));
  EXPECT_EQ(SplitOnce("setup.exe a" + quoteTrail + "b c"), (Args{"a" + quoteTrail + "b", "c"}));
  machine_.codePage = 1252;
  EXPECT_EQ(Split("setup.exe x" + blankTrail + "y z"), (Args{"x\x83", "y", "z"}));
  EXPECT_EQ(SplitOnce("setup.exe x" + blankTrail + "y z"), (Args{"x\x83", "y", "z"}));
}

// Many arguments: the kept list holds them all, in order, past its first
// growth steps.
TEST_F(ArgumentsTest, KeptListHoldsThousandsOfArguments) {
  std::string commandLine = "setup.exe";
  Args expected;
  for (int i = 0; i < 5000; ++i) {
    expected.push_back(i % 7 == 0 ? "with blank " + std::to_string(i) : "a" + std::to_string(i));
    commandLine += i % 7 == 0 ? " \"" + expected.back() + "\"" : " " + expected.back();
  }
  EXPECT_EQ(SplitOnce(commandLine), expected);
}

TEST(ComparisonTest, IgnoreCaseFoldsOnlyAsciiLetters) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {"/temp", "/TEMP", true}, {"/Silent", "/sILENT", true}, {"/s", "/S", true},
      {"", "", true},           {"/s", "/s ", false},         {"/temp", "/tem", false},
      {"\xe9", "\xc9", false},  {"[", "{", false},            {"@", "`", false},
  };
  for (const auto& c : cases) EXPECT_EQ(launcher::EqualsIgnoreCase(c.a, c.b), c.equal) << c.a << " " << c.b;
  EXPECT_TRUE(launcher::EqualsExactly("/32", "/32"));
  EXPECT_FALSE(launcher::EqualsExactly("/32", "/32x"));
  EXPECT_FALSE(launcher::EqualsExactly("/32", "/3"));
  EXPECT_EQ(launcher::UpperAscii('a'), 'A');
  EXPECT_EQ(launcher::UpperAscii('z'), 'Z');
  EXPECT_EQ(launcher::UpperAscii('{'), '{');
  EXPECT_EQ(launcher::UpperAscii('\xe9'), '\xe9');
}

}  // namespace
