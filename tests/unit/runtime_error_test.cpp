#include <gtest/gtest.h>

#include "launcher/fatal.h"

namespace {

TEST(RuntimeErrorTest, TextFollowsTheTemplate) {
  struct { uint32_t number; uintptr_t address; const char* text; } cases[] = {
      {203, 0x0040A1B2, "Runtime error 203 at 0040A1B2"},
      {216, 0xFFFFFFFF, "Runtime error 216 at FFFFFFFF"},
      {1, 0, "Runtime error   1 at 00000000"},
      {9999, 0x12345678, "Runtime error9999 at 12345678"},
  };
  for (const auto& c : cases) {
    char text[32];
    launcher::FormatRuntimeError(c.number, c.address, text);
    EXPECT_STREQ(text, c.text);
  }
}

TEST(RuntimeErrorTest, ExceptionNumbersByKind) {
  EXPECT_EQ(launcher::RuntimeErrorForException(0xC0000094u), 200u);  // integer division by zero
  EXPECT_EQ(launcher::RuntimeErrorForException(0xC00000FDu), 202u);  // stack overflow
  EXPECT_EQ(launcher::RuntimeErrorForException(0xC0000005u), 216u);  // access violation
  EXPECT_EQ(launcher::RuntimeErrorForException(0xC0000096u), 218u);  // privileged instruction
  EXPECT_EQ(launcher::RuntimeErrorForException(0xE06D7363u), 255u);  // anything else
  EXPECT_EQ(launcher::RuntimeErrorForException(0x80000003u), 255u);
}

}  // namespace
