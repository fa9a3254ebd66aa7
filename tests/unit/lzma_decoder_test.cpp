#include <lzma.h>

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sim/sim_machine.h"
#include "support/lzma_decoder.h"
#include "tests/helpers/test_packages.h"

namespace {

using packaging::Bytes;
using support::TLZMADecoder;
using support::TStream;

Bytes Compress(const Bytes& data, bool endMarker, uint32_t dictionary = 1u << 16) {
  packaging::LzmaSettings settings;
  settings.endMarker = endMarker;
  settings.dictionarySize = dictionary;
  Bytes out;
  std::string error;
  EXPECT_TRUE(packaging::CompressLzma1(data, settings, &out, &error)) << error;
  return out;
}

Bytes Properties(uint8_t byte, uint32_t dictionary) {
  Bytes p(5);
  p[0] = byte;
  for (int i = 0; i < 4; ++i) p[1 + i] = static_cast<uint8_t>(dictionary >> (8 * i));
  return p;
}

class LzmaDecoderTest : public ::testing::Test {
 protected:
  void SetUp() override { machine_.Install(); }

  // Decodes `stream` with the default properties, bounded at `size`.
  bool Decode(const Bytes& stream, int64_t size, Bytes* out) {
    TStream input, output;
    input.SetSize(static_cast<int32_t>(stream.size()));
    if (!stream.empty()) std::memcpy(input.Memory, stream.data(), stream.size());
    TLZMADecoder decoder;
    const Bytes props = Properties(0x5D, 1u << 16);
    EXPECT_TRUE(decoder.SetProperties(props.data(), 5));
    const bool ok = decoder.Decode(&input, &output, size);
    out->assign(output.Memory, output.Memory + output.GetSize());
    return ok;
  }

  sim::Machine machine_;
};

TEST_F(LzmaDecoderTest, PropertyBytes) {
  struct Case {
    uint8_t byte;
    uint32_t dictionary;
    bool accepted;
  } cases[] = {
      {0x5D, 0x00400000, true},   // lc 3, lp 0, pb 2, 4 MiB
      {0, 0, true},               // dictionary 0: a 4096-byte window
      {4 * 45 + 0 * 9 + 4, 1 << 20, true},  // lc 4, lp 0, pb 4
      {224, 1 << 20, false},      // lc 8, lp 4, pb 4: lc + lp above 4, which liblzma refuses
      {225, 1 << 20, false},      // pb 5
      {255, 1 << 20, false},
      {0x5D, 0x80000000u, false}, // dictionary 2^31
      {0x5D, 0xFFFFFFFFu, false},
      {0x5D, 0x7FFFFFFFu, true},
  };
  for (const Case& c : cases) {
    TLZMADecoder decoder;
    const Bytes props = Properties(c.byte, c.dictionary);
    EXPECT_EQ(decoder.SetProperties(props.data(), 5), c.accepted) << int(c.byte) << " " << c.dictionary;
  }
  TLZMADecoder decoder;
  const Bytes props = Properties(0x5D, 1 << 16);
  EXPECT_FALSE(decoder.SetProperties(props.data(), 4)) << "fewer than five bytes";
}

TEST_F(LzmaDecoderTest, StreamWithoutEndMarkerGivesExactlyTheSize) {
  const Bytes program = testing_support::FakeProgram(300000, 3);
  Bytes stream = Compress(program, false);
  // Bytes that follow the stream in the package (here: those of another
  // stream) are decoded as more symbols by a raw decoder without a bound.
  const Bytes next = Compress(testing_support::FakeProgram(20000, 4), false);
  stream.insert(stream.end(), next.begin(), next.end());
  {
    lzma_options_lzma options{};
    lzma_lzma_preset(&options, 6);
    options.dict_size = 1 << 16;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream s = LZMA_STREAM_INIT;
    ASSERT_EQ(lzma_raw_decoder(&s, filters), LZMA_OK);
    Bytes unbounded(program.size() + 100000);
    s.next_in = stream.data();
    s.avail_in = stream.size();
    s.next_out = unbounded.data();
    s.avail_out = unbounded.size();
    while (lzma_code(&s, LZMA_RUN) == LZMA_OK && s.avail_in > 0) {
    }
    EXPECT_GT(s.total_out, program.size());
    lzma_end(&s);
  }
  Bytes out;
  EXPECT_TRUE(Decode(stream, static_cast<int64_t>(program.size()), &out));
  EXPECT_EQ(out, program);
}

TEST_F(LzmaDecoderTest, EndMarkers) {
  const Bytes program = testing_support::FakeProgram(50000, 4);
  const Bytes stream = Compress(program, true);
  Bytes out;
  EXPECT_TRUE(Decode(stream, static_cast<int64_t>(program.size()), &out)) << "marker at the size";
  EXPECT_EQ(out, program);
  EXPECT_TRUE(Decode(stream, static_cast<int64_t>(program.size()) + 10, &out)) << "marker before the size";
  EXPECT_EQ(out.size(), program.size()) << "decoding ends at the marker, short of the size";
}

TEST_F(LzmaDecoderTest, ShortAndEmptyInput) {
  const Bytes program = testing_support::FakeProgram(100000, 5);
  Bytes stream = Compress(program, false);
  Bytes out;
  EXPECT_TRUE(Decode(stream, 0, &out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(Decode(Bytes(), 1000, &out));
  EXPECT_TRUE(out.empty());
  stream.resize(stream.size() - 1000);
  EXPECT_FALSE(Decode(stream, static_cast<int64_t>(program.size()), &out));
  EXPECT_LT(out.size(), program.size());
  EXPECT_TRUE(std::equal(out.begin(), out.end(), program.begin())) << "what came out is right";
}

TEST_F(LzmaDecoderTest, GarbageEndsWithoutReachingTheSize) {
  Bytes garbage(5000);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 131 + 7);
  garbage[0] = 0;  // the range coder's first byte
  Bytes out;
  EXPECT_FALSE(Decode(garbage, 10000000, &out));
  EXPECT_LT(out.size(), 10000000u);
}

TEST_F(LzmaDecoderTest, ReleasesAllItsMemory) {
  const Bytes program = testing_support::FakeProgram(100000, 6);
  Bytes out;
  Decode(Compress(program, false), static_cast<int64_t>(program.size()), &out);
  EXPECT_EQ(machine_.memoryInUse, 0u);
  EXPECT_GT(machine_.memoryPeak, program.size());
}

}  // namespace
