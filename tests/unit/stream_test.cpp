#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sim/sim_machine.h"
#include "support/stream.h"

namespace {

using support::kStreamGrowthUnit;
using support::TStream;

// The stream's memory comes from the simulated machine.
class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override { machine_.Install(); }
  sim::Machine machine_;
};

TEST_F(StreamTest, SetSizeFollowsTheCapacityRule) {
  struct Case {
    int32_t size;
    int32_t capacity;
  } cases[] = {
      {0, 0},
      {1, kStreamGrowthUnit},
      {kStreamGrowthUnit, kStreamGrowthUnit},
      {kStreamGrowthUnit + 1, 2 * kStreamGrowthUnit},
      {10 * kStreamGrowthUnit - 1, 10 * kStreamGrowthUnit},
  };
  for (const Case& c : cases) {
    TStream s;
    s.SetSize(c.size);
    EXPECT_EQ(s.Size, c.size);
    EXPECT_EQ(s.Capacity, c.capacity) << c.size;
    EXPECT_EQ(s.Position, 0);
    EXPECT_EQ(s.Memory == nullptr, c.capacity == 0);
  }
}

TEST_F(StreamTest, SetSizeToTheCurrentSizeTrimsTheBlockAndKeepsTheBytes) {
  TStream s;
  std::vector<uint8_t> bytes(100);
  for (int i = 0; i < 100; ++i) bytes[i] = static_cast<uint8_t>(i * 3);
  s.Write(bytes.data(), 100);
  EXPECT_EQ(s.Capacity, kStreamGrowthUnit);
  s.SetSize(100);
  EXPECT_EQ(s.Capacity, 100);
  EXPECT_EQ(std::memcmp(s.Memory, bytes.data(), 100), 0);
  EXPECT_EQ(machine_.memoryInUse, 100u);
}

TEST_F(StreamTest, SetSizeBelowThePositionMovesItToTheEnd) {
  TStream s;
  s.SetSize(100);
  s.Seek(50, 0);
  s.SetSize(10);
  EXPECT_EQ(s.Position, 10);
  s.Seek(5, 0);
  s.SetSize(8);
  EXPECT_EQ(s.Position, 5);
}

TEST_F(StreamTest, OneLargeWriteGrowsToWholeUnits) {
  TStream s;
  std::vector<uint8_t> bytes(kStreamGrowthUnit + kStreamGrowthUnit / 2, 7);
  EXPECT_EQ(s.Write(bytes.data(), static_cast<int32_t>(bytes.size())), static_cast<int32_t>(bytes.size()));
  EXPECT_EQ(s.Size, static_cast<int32_t>(bytes.size()));
  EXPECT_EQ(s.Capacity, 2 * kStreamGrowthUnit);
  EXPECT_EQ(s.Position, s.Size);
}

TEST_F(StreamTest, WritesOfNothing) {
  TStream s;
  EXPECT_EQ(s.Write("x", 0), 0);
  EXPECT_EQ(s.Memory, nullptr) << "a write of 0 bytes at position 0 obtains no block";
  s.SetSize(5);
  s.Seek(10, 0);
  EXPECT_EQ(s.Write("x", 0), 0);
  EXPECT_EQ(s.Size, 10) << "a write of 0 bytes past the end still moves the end";
}

TEST_F(StreamTest, RefusedRequests) {
  TStream s;
  s.Write("abcdef", 6);
  char out[10] = {};
  s.Seek(6, 0);
  EXPECT_EQ(s.Read(out, 1), 0) << "read at the end";
  s.Seek(3, 0);
  EXPECT_EQ(s.Read(out, 10), 3);
  EXPECT_EQ(std::string(out, 3), "def");
  EXPECT_EQ(s.Position, 6);
  EXPECT_EQ(s.Seek(-5, 0), -5);
  EXPECT_EQ(s.Read(out, 1), 0);
  EXPECT_EQ(s.Write("x", 1), 0);
  EXPECT_EQ(s.Seek(0, 0), 0);
  EXPECT_EQ(s.Read(out, -1), 0);
  EXPECT_EQ(s.Write("x", -1), 0);
  EXPECT_EQ(s.Seek(7, 3), 0) << "unknown origin leaves the position";
  s.Seek(0x7FFFFFF0, 0);
  EXPECT_EQ(s.Write("0123456789abcdefghij", 20), 0) << "an end past 2^31 - 1 is refused";
  EXPECT_EQ(s.Size, 6);
}

TEST_F(StreamTest, SeekOriginsAndGetSize) {
  TStream s;
  s.Write("0123456789", 10);
  EXPECT_EQ(s.Seek(2, 0), 2);
  EXPECT_EQ(s.Seek(3, 1), 5);
  EXPECT_EQ(s.Seek(-1, 2), 9);
  s.Seek(50, 0);
  EXPECT_EQ(s.GetSize(), 10);
  EXPECT_EQ(s.Position, 50) << "GetSize leaves the position, even past the end";
}

TEST_F(StreamTest, ClearAndDestructorReleaseTheBlock) {
  {
    TStream s;
    s.SetSize(1000);
    s.Clear();
    EXPECT_EQ(s.Memory, nullptr);
    EXPECT_EQ(s.Size, 0);
    EXPECT_EQ(s.Capacity, 0);
    s.SetSize(1000);
  }
  EXPECT_EQ(machine_.memoryInUse, 0u);
}

TEST_F(StreamTest, BlockThatCannotBeHadEndsWithReport203) {
  machine_.memoryLimit = 1 << 20;
  const uint32_t code = machine_.Run([] {
    TStream s;
    s.SetSize(4 << 20);
  });
  EXPECT_EQ(code, 203u);
  ASSERT_EQ(machine_.messageBoxes.size(), 1u);
  EXPECT_EQ(machine_.messageBoxes[0].text.substr(0, 17), "Runtime error 203");
}

}  // namespace
