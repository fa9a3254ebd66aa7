#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "launcher/crc32.h"

namespace {

class Crc32Test : public ::testing::Test {
 protected:
  void SetUp() override { launcher::BuildCrcTable(); }
};

TEST_F(Crc32Test, KnownAnswers) {
  EXPECT_EQ(launcher::Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(launcher::Crc32("", 0), 0u);
  EXPECT_EQ(launcher::Crc32("a", 1), 0xE8B7BE43u);
}

// Same answer as zlib for every length around block boundaries and at every
// alignment of the buffer.
TEST_F(Crc32Test, MatchesZlibOnEdgeLengthsAndAlignments) {
  std::mt19937 random(7);
  std::vector<uint8_t> buffer(70000 + 16);
  for (auto& b : buffer) b = static_cast<uint8_t>(random());
  const size_t lengths[] = {0, 1, 2, 3, 4, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65,
                            255, 256, 257, 1023, 1024, 4095, 4096, 65535, 65536, 70000};
  for (size_t offset = 0; offset < 16; ++offset) {
    for (size_t length : lengths) {
      const uint8_t* p = buffer.data() + offset;
      EXPECT_EQ(launcher::Crc32(p, length),
                static_cast<uint32_t>(crc32(0, p, static_cast<uInt>(length))))
          << "offset " << offset << " length " << length;
    }
  }
}

TEST_F(Crc32Test, UpdateAndCombineContinueAcrossPieces) {
  const char text[] = "The quick brown fox jumps over the lazy dog";
  const size_t n = std::strlen(text);
  for (size_t cut = 0; cut <= n; ++cut) {
    EXPECT_EQ(launcher::Crc32Update(launcher::Crc32(text, cut), text + cut, n - cut),
              launcher::Crc32(text, n));
    EXPECT_EQ(launcher::Crc32Combine(launcher::Crc32(text, cut), launcher::Crc32(text + cut, n - cut), n - cut),
              launcher::Crc32(text, n));
  }
}

}  // namespace

namespace {

// The table path alone gives the same answers (the folding path, where the
// processor has it, is what the tests above exercised).
TEST(Crc32TableTest, TablePathMatchesZlib) {
  launcher::BuildCrcTable();
  const bool folding = launcher::CrcFoldingForTesting(false);
  std::vector<uint8_t> buffer(5000);
  for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i * 7 + 3);
  for (size_t length : {0, 1, 63, 64, 65, 1000, 5000}) {
    EXPECT_EQ(launcher::Crc32(buffer.data(), length),
              static_cast<uint32_t>(crc32(0, buffer.data(), static_cast<uInt>(length))));
  }
  launcher::CrcFoldingForTesting(folding);
}

}  // namespace
