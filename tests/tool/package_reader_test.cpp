// The reader's problem codes, in-process: a package from the shared writer
// around the real launcher and sample program, one field or program changed,
// and exactly the codes ReadPackage and CheckPrograms give it.
#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launcher/package_format.h"
#include "tools/packaging/package_reader.h"
#include "tests/helpers/package_builder.h"
#include "tools/packaging/program_check.h"
#include "tools/packaging/program_replay.h"

namespace {

packaging::Bytes FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return packaging::Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

const std::string kBuild = WINDOWS_BUILD_DIR;

struct Case {
  const char* name;
  std::function<void(launcher::PackageHeader&)> header;  // changed after the writer laid it out
  std::function<void(packaging::PackageInput&)> input;   // changed before
  std::function<void(packaging::Bytes&)> file;           // changed in the finished file
  std::vector<std::string> codes;
};

void Posix(packaging::PackageInput& in) {
  packaging::Bytes& p = *in.program32;
  launcher::StoreLe16(&p[launcher::LoadLe32(&p[60]) + 24 + 68], 7);  // subsystem 7
}

const Case kCases[] = {
    {"compressed_size_1", [](auto& h) { h.payload32.compressedSize = 1; }, nullptr, nullptr, {"payload-refused"}},
    {"uncompressed_2_gib", [](auto& h) { h.payload32.uncompressedSize = 0x80000000u; }, nullptr, nullptr,
     {"payload-refused"}},
    {"uncompressed_all_ones", [](auto& h) { h.payload32.uncompressedSize = 0xFFFFFFFFu; }, nullptr, nullptr,
     {"payload-refused"}},
    {"claims_2_gib_less_1", [](auto& h) { h.payload32.uncompressedSize = 0x7FFFFFFFu; }, nullptr, nullptr,
     {"payload-refused"}},
    {"uncompressed_0", [](auto& h) { h.payload32.uncompressedSize = 0; }, nullptr, nullptr,
     {"program-not-startable"}},
    {"payload_end_1", [](auto& h) { launcher::SetPayloadEnd(&h, 1); }, nullptr, nullptr,
     {"payload-end-before-payloads"}},
    {"payload_end_0", [](auto& h) { launcher::SetPayloadEnd(&h, 0); }, nullptr, nullptr,
     {"payload-end-zero"}},
    {"payload_end_past", [](auto& h) { launcher::SetPayloadEnd(&h, 0x7FFFFFF0u); }, nullptr, nullptr,
     {"payload-end-past-end"}},
    // The edge of the launcher's reach: a payload starting at exactly 2 GiB,
    // and one byte before it.
    {"payload_at_2_gib", [](auto& h) { h.payload32.offset = 0x80000000u; }, nullptr, nullptr,
     {"region-past-end", "region-past-2gib", "payload-end-before-payloads", "payload-refused"}},
    {"payload_below_2_gib", [](auto& h) { h.payload32.offset = 0x7FFFFFFFu; }, nullptr, nullptr,
     {"region-past-end", "payload-end-before-payloads", "payload-refused"}},
    {"posix_program", nullptr, Posix, nullptr, {"program-not-startable"}},
    {"i386_in_64_bit_slot", nullptr,
     [](packaging::PackageInput& in) { in.program64 = FileBytes(kBuild + "/sample_setup32.exe"); }, nullptr,
     {"program-32-bit-in-64-bit-slot"}},
    {"launcher_dos_header", nullptr, nullptr, [](packaging::Bytes& f) { f[1] = 'X'; }, {"launcher-image-damaged"}},
    {"cut_by_100", nullptr, nullptr, [](packaging::Bytes& f) { f.resize(f.size() - 100); }, {"truncated"}},
    // The locator's totalSizeHigh (bytes 144..147) with its highest bit set.
    {"total_size_high_80000000", nullptr, nullptr, [](packaging::Bytes& f) { f[147] = 0x80; }, {"total-size-negative"}},
    {"total_size_high_ffffffff", nullptr, nullptr,
     [](packaging::Bytes& f) { f[144] = f[145] = f[146] = f[147] = 0xFF; }, {"total-size-negative"}},
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class ReaderCodesTest : public ::testing::TestWithParam<Case> {};

TEST_P(ReaderCodesTest, GivesExactlyTheCodes) {
  const Case& c = GetParam();
  packaging::PackageInput in;
  in.image = FileBytes(kBuild + "/launcher.exe");
  in.program32 = FileBytes(kBuild + "/sample_setup32.exe");
  in.setupData = packaging::Bytes(5000, 0x42);
  if (c.header) in.adjust = [&](launcher::PackageLocator&, launcher::PackageHeader& h) { c.header(h); };
  if (c.input) c.input(in);
  packaging::BuiltPackage built;
  std::string error;
  ASSERT_TRUE(packaging::BuildPackage(in, &built, &error)) << error;
  if (c.file) c.file(built.bytes);
  packaging::PackageView view = packaging::ReadPackage(built.bytes);
  packaging::CheckPrograms(built.bytes, &view);
  EXPECT_EQ(view.problemCodes, c.codes);
  ASSERT_EQ(view.problems.size(), view.problemCodes.size());
}

INSTANTIATE_TEST_SUITE_P(Table, ReaderCodesTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

// A PE header 2 MiB into the program: the program is checked as it is, and
// its head holds the headers, not everything before them.
TEST(ProgramHeadTest, FarPeHeaderKeepsOnlyTheHeaders) {
  packaging::PackageInput in;
  in.image = FileBytes(kBuild + "/launcher.exe");
  packaging::Bytes program = FileBytes(kBuild + "/sample_setup32.exe");
  const uint32_t pe = launcher::LoadLe32(&program[60]);
  const uint32_t headers = 24 + launcher::LoadLe16(&program[pe + 20]) + 40 * launcher::LoadLe16(&program[pe + 6]);
  const packaging::Bytes copy(program.begin() + pe, program.begin() + pe + headers);
  constexpr uint32_t kFar = 2u << 20;
  program.resize(kFar);
  program.insert(program.end(), copy.begin(), copy.end());
  launcher::StoreLe32(&program[60], kFar);
  in.program32 = program;
  packaging::BuiltPackage built;
  std::string error;
  ASSERT_TRUE(packaging::BuildPackage(in, &built, &error)) << error;
  packaging::PackageView view = packaging::ReadPackage(built.bytes);
  packaging::ProgramSlot slot;
  packaging::CheckPrograms(built.bytes, &view, &slot);
  EXPECT_EQ(view.problemCodes, std::vector<std::string>());
  const host::ByteView head = slot.decoded.head.View();
  ASSERT_EQ(head.size(), kFar + headers);
  EXPECT_TRUE(std::equal(copy.begin(), copy.end(), head.begin() + kFar));
  EXPECT_EQ(head[pe], 0) << "the bytes between the DOS header and the far PE header are not held";
  // Read from the program file (as build checks it), the head is the same.
  packaging::ProgramHead read;
  ASSERT_TRUE(read.Read(packaging::InMemory(program), &error)) << error;
  EXPECT_TRUE(std::equal(head.begin(), head.end(), read.View().begin(), read.View().end()));
}

}  // namespace
