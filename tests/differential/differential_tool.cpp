// differential: the two ends of the differential corpus.
//   differential write DIR SEED COUNT   writes the packages and DIR/list.txt
//   differential collect DIR            reads what the Wine job left in DIR and
//                                       prints one outcome line per package and row
// Outcome lines: NAME <tab> ROW <tab> EXIT <tab> OUTCOME, where OUTCOME is
// "runs 32", "runs 64", "box " and the box text in hex, or "none".
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "tests/differential/corpus.h"
#include "tests/helpers/relay_trace.h"

namespace {

packaging::Bytes Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return packaging::Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Text(const std::string& path) {
  const packaging::Bytes b = Read(path);
  return std::string(b.begin(), b.end());
}

std::string Hex(const std::string& text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) out += kDigits[c >> 4], out += kDigits[c & 15];
  return out;
}

int Write(const std::string& dir, uint32_t seed, int count) {
  const std::string build = WINDOWS_BUILD_DIR, fixtures = std::string(SOURCE_DIR) + "/tests/differential";
  const auto corpus = differential::MakeCorpus(seed, count, Read(build + "/launcher.exe"),
                                               Read(fixtures + "/program32.exe"), Read(fixtures + "/program64.exe"));
  std::ofstream list(dir + "/list.txt");
  for (const auto& p : corpus) {
    std::ofstream(dir + "/" + p.name + ".exe", std::ios::binary)
        .write(reinterpret_cast<const char*>(p.bytes.data()), static_cast<std::streamsize>(p.bytes.size()));
    list << p.name << "\n";
  }
  return 0;
}

int Collect(const std::string& dir) {
  std::ifstream list(dir + "/list.txt");
  std::string name;
  while (std::getline(list, name)) {
    for (const differential::Row& row : differential::Rows()) {
      const std::string base = dir + "/run-" + row.name + "/" + name;
      std::string rc = Text(base + ".rc");
      while (!rc.empty() && (rc.back() == '\n' || rc.back() == '\r')) rc.pop_back();
      const auto boxes = relay::ParseBoxes(Text(base + ".trace"));
      const std::string report = Text(base + ".exe.received.txt");
      std::string outcome = "none";
      if (!boxes.empty()) outcome = "box " + Hex(boxes[0].text);
      else if (report.find("bits: 32") != std::string::npos) outcome = "runs 32";
      else if (report.find("bits: 64") != std::string::npos) outcome = "runs 64";
      std::printf("%s\t%s\t%s\t%s\n", name.c_str(), row.name.c_str(), rc.empty() ? "?" : rc.c_str(), outcome.c_str());
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "write" && argc == 5) return Write(argv[2], static_cast<uint32_t>(std::atoi(argv[3])), std::atoi(argv[4]));
  if (mode == "collect" && argc == 3) return Collect(argv[2]);
  std::fprintf(stderr, "usage: differential write DIR SEED COUNT | differential collect DIR\n");
  return 2;
}
