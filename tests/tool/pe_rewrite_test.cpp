// Rewriting PE images: clearing a signature.
#include "tests/tool/tool_run.h"

namespace {

using namespace tool_test;

// A header whose optional header ends before the certificate entry: clearing
// a signature writes nothing past what the header holds.
TEST(PeImage, ClearingASignatureStaysInsideTheHeader) {
  packaging::Bytes tiny(376 + 24 + 96 + 64, 0xAA);
  std::fill(tiny.begin(), tiny.begin() + 376 + 24 + 96, 0);
  tiny[0] = 'M', tiny[1] = 'Z', tiny[60] = 376 & 0xFF, tiny[61] = 376 >> 8;
  for (auto [at, value] : {std::pair{376, 0x4550}, {380, 0x14C}, {396, 96}, {398, 0x102}, {400, 0x10B}, {492, 16}}) {
    launcher::StoreLe16(&tiny[at], static_cast<uint16_t>(value));
  }
  ASSERT_TRUE(pe::ClearSignatureAndChecksum(&tiny));
  EXPECT_EQ(std::count(tiny.end() - 64, tiny.end(), 0xAA), 64);
}

}  // namespace
