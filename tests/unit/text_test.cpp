#include "launcher/text.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/sim/sim_machine.h"

namespace {

// A text that counts the characters its searches pass over and those its
// changes write or move, in every text of its kind.
int64_t work = 0;

using Base = launcher::WideText;

struct CountingText : Base {
  using Base::Base;
  int32_t Find(const char16_t* needle, int32_t n, int32_t from = 0) const {
    const int32_t p = Base::Find(needle, n, from);
    work += (p < 0 ? Length() : p + n) - from;
    return p;
  }
  void Replace(int32_t at, int32_t count, const char16_t* text, int32_t length) {
    work += Length() - at - count + length;
    Base::Replace(at, count, text, length);
  }
  void Append(const char16_t* text, int32_t length) { Replace(Length(), 0, text, length); }
  void Append(const CountingText& text) { Append(text.Chars(), text.Length()); }
};

// A message of 65,535 units made of "%USER%": its replacement looks at and
// writes each character a bounded number of times (searching from the start
// again after each replacement, or replacing in place, is quadratic: about
// 10^9 here).
TEST(ReplaceAll, WorkGrowsWithTheTextNotItsSquare) {
  sim::Machine machine;  // the texts' memory
  machine.Install();
  std::u16string message;
  while (message.size() + 6 <= 65535) message += u"%USER%";
  message += u"end";
  CountingText text(message.c_str(), static_cast<int32_t>(message.size()));
  const CountingText name(u"Windows Server 2003");
  work = 0;
  launcher::ReplaceAll(&text, u"%USER%", name);
  const int64_t placeholders = 65532 / 6;
  EXPECT_EQ(text.Length(), placeholders * name.Length() + 3);
  EXPECT_EQ(std::u16string(text.Chars() + text.Length() - 3), u"end");
  EXPECT_LE(work, 2 * (int64_t(message.size()) + text.Length())) << "characters looked at and written";
}

}  // namespace
