// Reading and decoding the payload in whole runs: every refusal ends in the
// damaged-package message before any file is written.
#include <algorithm>
#include <functional>

#include <gtest/gtest.h>

#include "launcher/fatal.h"
#include "launcher/main_sequence.h"
#include "launcher/payload.h"
#include "tools/packaging/package_reader.h"
#include "tools/packaging/program_check.h"
#include "tools/packaging/program_replay.h"
#include "support/lzma_decoder.h"
#include "support/stream.h"
#include "tests/helpers/test_packages.h"

namespace {

using packaging::BuiltPackage;
using packaging::PackageInput;

struct DecodeCase {
  const char* name;
  std::function<void(PackageInput&)> input;
  std::function<void(launcher::PackageLocator&, launcher::PackageHeader&)> adjust;
  bool passes;                // decoding passes and the copy is written
  const char* box = nullptr;  // then: the box shown, if any
  uint32_t memoryMiB = 256;   // the machine's memory limit
};

const DecodeCase kCases[] = {
    {"whole", nullptr, nullptr, true},
    {"end_marker_exactly_at_the_size", [](PackageInput& i) { i.lzma.endMarker = true; }, nullptr, true},
    {"end_marker_before_the_size", [](PackageInput& i) { i.lzma.endMarker = true; },
     [](launcher::PackageLocator&, launcher::PackageHeader& h) { h.payload32.uncompressedSize += 1; }, false},
    // One more than a stream with an end marker holds. (Without one, the
    // range coder's last bytes may legitimately give one more byte.)
    {"uncompressed_size_one_more", [](PackageInput& i) { i.lzma.endMarker = true; },
     [](launcher::PackageLocator&, launcher::PackageHeader& h) { h.payload32.uncompressedSize += 1; }, false},
    // Decoding passes on a program that lacks its end: the loader accepts a
    // last section that ends inside the last file-alignment unit of the file
    // (one byte short), not one that runs further (1000 bytes short).
    {"uncompressed_size_one_less_decodes_and_runs", nullptr,
     [](launcher::PackageLocator&, launcher::PackageHeader& h) { h.payload32.uncompressedSize -= 1; }, true},
    {"uncompressed_size_1000_less_does_not_start", nullptr,
     [](launcher::PackageLocator&, launcher::PackageHeader& h) { h.payload32.uncompressedSize -= 1000; }, true,
     launcher::kNotExecutedMessage},
    {"stream_cut_1000_bytes_short", nullptr,
     [](launcher::PackageLocator&, launcher::PackageHeader& h) { h.payload32.compressedSize -= 1000; }, false},
    {"compressed_size_zero", nullptr,
     [](launcher::PackageLocator&, launcher::PackageHeader& h) { h.payload32.compressedSize = 0; }, false},
    {"compressed_size_past_the_end_of_the_file", nullptr,
     [](launcher::PackageLocator&, launcher::PackageHeader& h) { h.payload32.compressedSize += 100000; }, false},
    {"compressed_size_2_31", nullptr,
     [](launcher::PackageLocator&, launcher::PackageHeader& h) { h.payload32.compressedSize = 0x80000000u; }, false},
    {"uncompressed_size_2_31", nullptr,
     [](launcher::PackageLocator&, launcher::PackageHeader& h) { h.payload32.uncompressedSize = 0xFFFFFFFFu; }, false},
    // A size field that claims far more than the stream holds: the output
    // grows only as far as the stream goes, so this is damage, not a block
    // the memory limit (256 MiB here) cannot give.
    {"uncompressed_size_inflated", nullptr,
     [](launcher::PackageLocator&, launcher::PackageHeader& h) { h.payload32.uncompressedSize = 0x7FFFFFF0u; }, false},
    // The same where the first block (64 times the stream) is more than
    // memory holds: the block is a guess, and the stream still ends early.
    {"uncompressed_size_inflated_first_block_beyond_memory",
     [](PackageInput& i) { i.program32 = testing_support::FakeProgram(2u << 20, 7), i.lzma.preset = 0; },
     [](launcher::PackageLocator&, launcher::PackageHeader& h) { h.payload32.uncompressedSize = 0x7FFFFFF0u; }, false,
     nullptr, 48},
    {"uncompressed_size_2_31_less_1_passes_the_sign_test", nullptr,
     [](launcher::PackageLocator&, launcher::PackageHeader& h) { h.payload32.uncompressedSize = 0x7FFFFFFFu; }, false},
    {"uncompressed_size_exactly_2_31_refused", nullptr,
     [](launcher::PackageLocator&, launcher::PackageHeader& h) { h.payload32.uncompressedSize = 0x80000000u; }, false},
    {"uncompressed_size_64_times_the_stream", nullptr,
     [](launcher::PackageLocator&, launcher::PackageHeader& h) {
       h.payload32.uncompressedSize = h.payload32.compressedSize * 64 + 1;
     },
     false},
    {"properties_lc0_lp2_pb0", [](PackageInput& i) { i.lzma.lc = 0, i.lzma.lp = 2, i.lzma.pb = 0; }, nullptr, true},
    {"properties_lc4_lp0_pb4", [](PackageInput& i) { i.lzma.lc = 4, i.lzma.lp = 0, i.lzma.pb = 4; }, nullptr, true},
    {"payload_offset_2_31", nullptr,
     [](launcher::PackageLocator&, launcher::PackageHeader& h) { h.payload32.offset = 0x80000000u; }, false},
    {"properties_byte_225", nullptr,
     [](launcher::PackageLocator&, launcher::PackageHeader& h) { h.lzmaProperties[0] = 225; }, false},
    {"properties_lc_plus_lp_above_4", nullptr,
     [](launcher::PackageLocator&, launcher::PackageHeader& h) { h.lzmaProperties[0] = 224; }, false},
    {"dictionary_2_31", nullptr,
     [](launcher::PackageLocator&, launcher::PackageHeader& h) { h.lzmaProperties[4] = 0x80; }, false},
    {"dictionary_zero", [](PackageInput& i) { i.lzma.dictionarySize = 4096; },
     [](launcher::PackageLocator&, launcher::PackageHeader& h) {
       for (int k = 1; k <= 4; ++k) h.lzmaProperties[k] = 0;
     },
     true},
    {"wrong_properties_byte", nullptr,
     [](launcher::PackageLocator&, launcher::PackageHeader& h) { h.lzmaProperties[0] = 0; }, false},
    {"empty_program", [](PackageInput& i) { i.program32 = packaging::Bytes(); }, nullptr, true},
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, RunsOrShowsTheDamagedPackageMessage) {
  const DecodeCase& c = GetParam();
  PackageInput input = testing_support::GoodInput();
  if (c.input) c.input(input);
  input.adjust = c.adjust;
  sim::Machine machine;
  machine.memoryLimit = std::size_t(c.memoryMiB) << 20;
  machine.administrator = true;
  testing_support::PlacePackage(&machine, testing_support::Build(input).bytes);
  const testing_support::Outcome outcome = testing_support::RunLauncherOn(&machine);
  EXPECT_EQ(outcome.exitCode, 0u);
  if (c.passes) {
    EXPECT_GE(machine.Find("WriteFile"), 0);
    if (c.box != nullptr) {
      ASSERT_EQ(outcome.boxes.size(), 1u);
      EXPECT_EQ(outcome.boxes[0].text, c.box);
    } else if (input.program32->size() >= 2) {
      EXPECT_TRUE(outcome.boxes.empty());
    }
  } else {
    ASSERT_EQ(outcome.boxes.size(), 1u);
    EXPECT_EQ(outcome.boxes[0].text, launcher::kDamagedPackageMessage);
    EXPECT_EQ(machine.Find("WriteFile"), -1) << "nothing written";
  }
  // A fatal exit releases nothing (the system takes it all back); a run that
  // completes has released streams and decoder before the start.
  if (c.passes) {
    EXPECT_EQ(machine.memoryInUse, 0u) << "streams and decoder released";
  }
}

INSTANTIATE_TEST_SUITE_P(Payloads, DecodeTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<DecodeCase>& i) { return std::string(i.param.name); });

TEST(DecodeSequenceTest, CopyHoldsExactlyTheProgram) {
  sim::Machine machine;
  machine.administrator = true;
  const PackageInput input = testing_support::GoodInput();
  std::vector<uint8_t> copy;
  machine.onProcessStart = [&](const sim::ProcessStart&) {
    copy = machine.FileBytes("C:\\Users\\user\\AppData\\Local\\Temp\\setup.exe").ToBytes();
  };
  testing_support::PlacePackage(&machine, testing_support::Build(input).bytes);
  testing_support::RunLauncherOn(&machine);
  EXPECT_EQ(copy, *input.program32);
}

// The resizes a run made beyond those of a run of the small good package
// (alike in everything else): the decoder's output's.
int OutputResizes(sim::Machine& machine) {
  sim::Machine small;
  small.administrator = machine.administrator;
  testing_support::PlacePackage(&small, testing_support::GoodPackage().bytes);
  testing_support::RunLauncherOn(&small);
  return machine.CallCount("MemoryResize") - small.CallCount("MemoryResize");
}

// Data that compresses far beyond what programs do (the output outgrows its
// first block and doubles) still decodes to exactly the program.
TEST(DecodeSequenceTest, HighlyCompressibleProgramGrowsTheOutputAndDecodesExactly) {
  sim::Machine machine;
  machine.administrator = true;
  PackageInput input = testing_support::GoodInput();
  // Program headers, then almost nothing but zeros.
  packaging::Bytes program = testing_support::FakeProgram(24u << 20, 1);
  std::fill(program.begin() + 0x200, program.end(), 0);
  for (size_t i = 0x200; i < program.size(); i += 4093) program[i] = static_cast<uint8_t>(i >> 12);
  input.program32 = program;
  std::vector<uint8_t> copy;
  machine.onProcessStart = [&](const sim::ProcessStart&) {
    copy = machine.FileBytes("C:\\Users\\user\\AppData\\Local\\Temp\\setup.exe").ToBytes();
  };
  const packaging::BuiltPackage built = testing_support::Build(input);
  ASSERT_GT(program.size(), 64u * built.header.payload32.compressedSize) << "the growth path is taken";
  testing_support::PlacePackage(&machine, built.bytes);
  const testing_support::Outcome outcome = testing_support::RunLauncherOn(&machine);
  EXPECT_TRUE(outcome.boxes.empty()) << (outcome.boxes.empty() ? "" : outcome.boxes[0].text);
  EXPECT_TRUE(copy == program);
  EXPECT_LT(machine.memoryPeak, 3 * program.size()) << "doubling, not a block per step";
  // 1 MiB doubled to 24 MiB is five steps, and one trims the block at the end.
  EXPECT_LE(OutputResizes(machine), 6) << "doubling, not fixed steps";
}

// A program of ordinary compressibility: its output is one block of exactly
// its size, taken at once, and the run's peak is the compressed stream, the
// program and the dictionary, with little besides.
TEST(DecodeSequenceTest, OrdinaryProgramTakesOneBlockAndPeaksAtTheFloor) {
  sim::Machine machine;
  machine.administrator = true;
  PackageInput input = testing_support::GoodInput();
  input.program32 = testing_support::FakeProgram((4u << 20) + 12345, 3);
  input.lzma.preset = 0;
  input.lzma.dictionarySize = 1u << 20;
  const packaging::BuiltPackage built = testing_support::Build(input);
  testing_support::PlacePackage(&machine, built.bytes);
  const testing_support::Outcome outcome = testing_support::RunLauncherOn(&machine);
  ASSERT_TRUE(outcome.boxes.empty());
  const std::size_t unit = support::kStreamGrowthUnit;
  EXPECT_EQ(machine.largestRequest, (input.program32->size() + unit - 1) / unit * unit)
      << "the first block is the whole program";
  EXPECT_EQ(OutputResizes(machine), 0) << "nothing grown or copied";
  const std::size_t floor = built.header.payload32.compressedSize + input.program32->size() + (1u << 20);
  EXPECT_LE(machine.memoryPeak, floor + (512u << 10));
}

// Where memory refuses the first block's guess but holds half of it, the
// next request is about half the guess, not the least the run needs (which
// would then grow in many small steps).
TEST(DecodeSequenceTest, ARefusedGuessIsHalved) {
  PackageInput input = testing_support::GoodInput();
  input.program32 = testing_support::FakeProgram(16u << 20, 5);
  input.lzma.preset = 0;
  input.lzma.dictionarySize = 1u << 20;
  const packaging::BuiltPackage built = testing_support::Build(input);
  sim::Machine machine;
  machine.administrator = true;
  machine.memoryLimit = built.header.payload32.compressedSize + (13u << 20);  // the stream, the decoder, ~10 MiB
  testing_support::PlacePackage(&machine, built.bytes);
  testing_support::RunLauncherOn(&machine);
  const std::size_t unit = support::kStreamGrowthUnit;
  const std::size_t guess = (input.program32->size() + unit - 1) / unit * unit;
  const std::vector<std::size_t>& requests = machine.memoryRequests;
  const auto refused = std::find(requests.begin(), requests.end(), guess);
  ASSERT_TRUE(refused != requests.end() && refused + 1 != requests.end());
  EXPECT_NEAR(double(refused[1]), guess / 2.0, 2.0 * unit);
}

// 2^31 - 1 passes the sign test and is decoded (the first block is asked
// for); 2^31 is refused before anything is read.
TEST(DecodeSequenceTest, TheSignTestRefusesFrom2To31On) {
  for (const uint32_t size : {0x7FFFFFFFu, 0x80000000u}) {
    sim::Machine machine;
    machine.memoryLimit = 256u << 20;
    PackageInput input = testing_support::GoodInput();
    input.adjust = [size](launcher::PackageLocator&, launcher::PackageHeader& h) {
      h.payload32.uncompressedSize = size;
    };
    testing_support::PlacePackage(&machine, testing_support::Build(input).bytes);
    const testing_support::Outcome outcome = testing_support::RunLauncherOn(&machine);
    ASSERT_EQ(outcome.boxes.size(), 1u);
    EXPECT_EQ(outcome.boxes[0].text, launcher::kDamagedPackageMessage);
    EXPECT_EQ(machine.largestRequest >= (1u << 20), size == 0x7FFFFFFFu) << std::hex << size;
  }
}

// A host that decodes once and replays the result (the package tool's
// verify) gets what the launcher's own run gets: the same verdict, the same
// peak, largest block and growth steps, and a copy with the program's bytes,
// also for a stream that ends before its recorded size, a stream past the end
// of the file and a machine whose memory runs out.
TEST(DecodeSequenceTest, ReplayGivesWhatDecodingGives) {
  packaging::Bytes program = testing_support::FakeProgram(24u << 20, 1);
  std::fill(program.begin() + 0x200, program.end(), 0);
  struct Case {
    int64_t extra, past;  // added to the recorded size, and to the stream's size
    size_t memoryMiB;
  };
  for (const Case& c : {Case{0, 0, 4096}, Case{40 << 20, 0, 4096}, Case{0, 1 << 30, 4096}, Case{0, 0, 20}}) {
    PackageInput input = testing_support::GoodInput();
    input.program32 = program;
    input.adjust = [c](launcher::PackageLocator&, launcher::PackageHeader& h) {
      h.payload32.uncompressedSize += static_cast<uint32_t>(c.extra);
      h.payload32.compressedSize += static_cast<uint32_t>(c.past);
    };
    const packaging::BuiltPackage built = testing_support::Build(input);
    const auto decoded = std::make_shared<const packaging::Decoded>(
        packaging::DecodeEntry(built.bytes, built.header, built.header.payload32));
    sim::Machine decoding, replaying;
    for (sim::Machine* m : {&decoding, &replaying}) {
      m->administrator = true;
      m->memoryLimit = c.memoryMiB << 20;
      testing_support::PlacePackage(m, built.bytes);
    }
    testing_support::RunLauncherOn(&decoding);
    uint64_t copySize = 0;
    host::ByteView copyStart;
    replaying.onProcessStart = [&](const sim::ProcessStart&) {
      const std::string copy = "C:\\Users\\user\\AppData\\Local\\Temp\\setup.exe";
      copySize = replaying.FileSize(copy);
      copyStart = replaying.FileStart(copy);
    };
    const launcher::ToolSteps replay = {
        const_cast<void*>(static_cast<const void*>(&decoded)),
        [](void* context, platform::Handle, const launcher::PayloadEntry& entry, const launcher::PackageHeader& header,
           support::TStream* compressed, support::TStream* decompressed) {
          packaging::ReplayDecodePayload(entry, header,
                                         *static_cast<const std::shared_ptr<const packaging::Decoded>*>(context),
                                         compressed, decompressed);
        },
        nullptr};
    replaying.Run([&] { launcher::LauncherMainWith(&replay); });
    SCOPED_TRACE(c.extra + c.past + c.memoryMiB);
    EXPECT_EQ(replaying.exitCode, decoding.exitCode);
    ASSERT_EQ(replaying.messageBoxes.size(), decoding.messageBoxes.size());
    if (!decoding.messageBoxes.empty()) {
      EXPECT_EQ(replaying.messageBoxes[0].text.substr(0, 17), decoding.messageBoxes[0].text.substr(0, 17));
    }
    ASSERT_EQ(replaying.starts.size(), decoding.starts.size());
    EXPECT_EQ(replaying.starts.size(), c.extra == 0 && c.past == 0 && c.memoryMiB > 100 ? 1u : 0u);
    EXPECT_EQ(replaying.memoryPeak, decoding.memoryPeak);
    EXPECT_EQ(replaying.largestRequest, decoding.largestRequest);
    EXPECT_EQ(replaying.CallCount("MemoryResize"), decoding.CallCount("MemoryResize"));
    if (!replaying.starts.empty()) {
      EXPECT_EQ(copySize, program.size());
      EXPECT_TRUE(std::equal(copyStart.begin(), copyStart.end(), program.begin()));
      EXPECT_GE(copyStart.size(), pe::HeadNeeded(copyStart));
    }
  }
}

TEST(DecodeSequenceTest, OneReadForTheWholeCompressedPayload) {
  sim::Machine machine;
  machine.administrator = true;
  const packaging::BuiltPackage p = testing_support::GoodPackage();
  testing_support::PlacePackage(&machine, p.bytes);
  testing_support::RunLauncherOn(&machine);
  EXPECT_GE(machine.Find("ReadFile " + std::to_string(p.header.payload32.compressedSize)), 0);
}

}  // namespace
