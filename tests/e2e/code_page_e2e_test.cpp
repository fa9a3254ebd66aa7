// The host's code page tables (host/code_pages) against the conversion Wine
// performs for a Windows program, on a sample of every character and of
// single and double bytes, in code pages 1252 and 932.
#include <cstdio>
#include <sstream>

#include <gtest/gtest.h>

#include "host/code_pages.h"
#include "tests/e2e/wine_harness.h"

namespace {

WINE_CASE(code_page_sample) {
  c.package = e2e::TestLauncherImage("code_page_sample");
  c.exeName = "code_page_sample.exe";
  c.arguments = "sample.txt";
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char buffer[8];
  for (unsigned char b : bytes) std::snprintf(buffer, sizeof buffer, " %02X", b), out += buffer;
  return out;
}

std::string Hex(const std::u16string& chars) {
  std::string out;
  char buffer[8];
  for (char16_t c : chars) std::snprintf(buffer, sizeof buffer, " %04X", unsigned(c)), out += buffer;
  return out;
}

TEST(WineCodePages, HostTablesConvertAsWineDoes) {
  const std::string sample = e2e::Result("code_page_sample").ReadFile("sample.txt");
  std::istringstream lines(sample);
  std::string line;
  int compared = 0, differing = 0;
  while (std::getline(lines, line)) {
    char kind;
    unsigned page, value;
    if (std::sscanf(line.c_str(), "%c %u %X:", &kind, &page, &value) != 3) continue;
    const std::string wine = line.substr(line.find(':') + 1);
    std::string host;
    if (kind == 'w') {
      host = Hex(host::WideToAnsi(page, std::u16string(1, char16_t(value))));
    } else {
      // Two hex digits: one byte; four: two.
      const size_t digits = line.find(':') - line.rfind(' ', line.find(':')) - 1;
      const std::string bytes = digits == 2 ? std::string(1, char(value)) : std::string{char(value >> 8), char(value)};
      host = Hex(host::AnsiToWide(page, bytes));
    }
    ++compared;
    if (host != wine && ++differing <= 10) ADD_FAILURE() << line << " | host:" << host;
  }
  EXPECT_GT(compared, 40000) << "the sample was written";
  EXPECT_EQ(differing, 0) << "of " << compared;
}

}  // namespace
