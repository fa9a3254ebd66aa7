// Package messages: read from the package, placeholders replaced, converted to
// the ANSI code page and shown under the launcher's path.
#include <string>

#include <gtest/gtest.h>

#include "launcher/fatal.h"
#include "launcher/package.h"
#include "platform/sim/sim_machine.h"
#include "tests/helpers/test_packages.h"

namespace {

using testing_support::U16;

struct Shown {
  std::string text;
  std::string caption;
  uint32_t type = 0;
  uint32_t exitCode = 0;
  size_t boxes = 0;
};

// Stores `message` as UTF-16LE at offset 300 of the own file (plus `slack`
// bytes after it) and shows it with `substitution`; `length` overrides the
// reference's length when not negative.
Shown ShowMessage(const std::u16string& message, const char* substitution, int length = -1,
                  size_t slack = 0) {
  sim::Machine machine;
  packaging::Bytes file(300, 0);
  for (char16_t c : message) {
    file.push_back(static_cast<uint8_t>(c));
    file.push_back(static_cast<uint8_t>(c >> 8));
  }
  file.resize(file.size() + slack, 0);
  machine.AddFile(machine.modulePath, file);
  launcher::MessageReference reference{300, static_cast<uint16_t>(length < 0 ? message.size() : length)};
  Shown shown;
  shown.exitCode = machine.Run([&] {
    platform::Handle own = platform::CreateFileA(machine.modulePath.c_str(), platform::kGenericRead,
                                                 platform::kFileShareRead, platform::kOpenExisting, 0);
    platform::SetFilePointer(own, 7, platform::kFileBegin);  // somewhere else
    launcher::FatalPackageMessage(own, reference, substitution);
  });
  shown.boxes = machine.messageBoxes.size();
  if (!machine.messageBoxes.empty()) {
    shown.text = machine.messageBoxes[0].text;
    shown.caption = machine.messageBoxes[0].caption;
    shown.type = machine.messageBoxes[0].type;
  }
  return shown;
}

struct SubstitutionCase {
  const char* stored;
  const char* substitution;
  const char* shown;
};

const SubstitutionCase kSubstitutions[] = {
    {"Needs a newer system than %USER%.", "Windows XP", "Needs a newer system than Windows XP."},
    {"%USER% and again %USER%!", "Windows XP", "Windows XP and again Windows XP!"},
    {"%USER%/%user%", "Windows 7", "Windows 7/Windows 7"},
    {"%User% and %USER without its sign", "Windows 7", "%User% and %USER without its sign"},
    {"No substitution: %USER% %user%", "", "No substitution: %USER% %user%"},
    {"", "Windows 7", ""},
    // No placeholder forms across an inserted name (the launcher's names hold
    // no '%' and begin with no letter of "USER%"), so searching on after each
    // insertion finds what searching from the start again would.
    {"%US%USER%ER% %USER%USER%", "Windows XP", "%USWindows XPER% Windows XPUSER%"},
    {"Windows 2000 needs SP4: %USER%", "Windows 2000 Service Pack 3",
     "Windows 2000 needs SP4: Windows 2000 Service Pack 3"},
};

class SubstitutionTest : public ::testing::TestWithParam<SubstitutionCase> {};

TEST_P(SubstitutionTest, ReplacesPlaceholders) {
  const SubstitutionCase& c = GetParam();
  const Shown shown = ShowMessage(U16(c.stored), c.substitution);
  EXPECT_EQ(shown.text, c.shown);
  EXPECT_EQ(shown.caption, "C:\\Setup\\setup.exe");
  EXPECT_EQ(shown.type, 0x10u);
  EXPECT_EQ(shown.exitCode, 0u);
}

INSTANTIATE_TEST_SUITE_P(Messages, SubstitutionTest, ::testing::ValuesIn(kSubstitutions));

TEST(PackageMessageTest, AllUserFirstThenLowerCase) {
  // The two placeholders overlap in "%USER%user%": the upper-case one is
  // replaced first, which leaves no "%user%".
  EXPECT_EQ(ShowMessage(U16("%USER%user%"), "X").text, "Xuser%");
  // Replacing "%USER%" can form a "%user%" that the second pass replaces.
  EXPECT_EQ(ShowMessage(U16("%user%USER%"), "%").text, "%");
}

TEST(PackageMessageTest, ConvertsToTheAnsiCodePage) {
  // e-acute and the euro sign exist in code page 1252; a CJK character does
  // not and becomes the default character.
  const std::u16string text = u"Caf\u00e9 \u20ac \u4e2d.";
  EXPECT_EQ(ShowMessage(text, "").text, "Caf\xe9 \x80 ?.");
}

TEST(PackageMessageTest, NulCodeUnitEndsTheShownText) {
  std::u16string text = U16("shown");
  text.push_back(0);
  text += U16("hidden");
  EXPECT_EQ(ShowMessage(text, "").text, "shown");
}

TEST(PackageMessageTest, EmptyMessageShowsAnEmptyBox) {
  const Shown shown = ShowMessage(U16(""), "Windows 7");
  EXPECT_EQ(shown.boxes, 1u);
  EXPECT_EQ(shown.text, "");
  EXPECT_EQ(shown.caption, "C:\\Setup\\setup.exe");
}

TEST(PackageMessageTest, MessageRunningPastTheEndShowsTheDamagedPackageMessage) {
  // One UTF-16 unit more than stored: the text would end two bytes past the end.
  const Shown past = ShowMessage(U16("short"), "", 6);
  EXPECT_EQ(past.text, launcher::kDamagedPackageMessage);
  EXPECT_EQ(past.boxes, 1u);
  EXPECT_EQ(past.exitCode, 0u);
  // One byte of slack is still one byte short of a whole extra unit.
  EXPECT_EQ(ShowMessage(U16("short"), "", 6, 1).text, launcher::kDamagedPackageMessage);
  EXPECT_EQ(ShowMessage(U16("short"), "", 6, 2).text, "short");
}

TEST(PackageMessageTest, OffsetBeyondTheSeekRangeShowsTheDamagedPackageMessage) {
  sim::Machine machine;
  machine.AddFile(machine.modulePath, packaging::Bytes(400, 0));
  machine.Run([&] {
    platform::Handle own = platform::CreateFileA(machine.modulePath.c_str(), platform::kGenericRead,
                                                 platform::kFileShareRead, platform::kOpenExisting, 0);
    launcher::FatalPackageMessage(own, launcher::MessageReference{0x80000010u, 4}, "");
  });
  ASSERT_EQ(machine.messageBoxes.size(), 1u);
  EXPECT_EQ(machine.messageBoxes[0].text, launcher::kDamagedPackageMessage);
}

}  // namespace
