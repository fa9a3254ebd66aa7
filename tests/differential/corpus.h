// The differential corpus: packages of every kind, valid and damaged, made
// the same way every time from a seed, and the machine rows they are run on
// by the real launcher under Wine and by the simulated machine. Their setup
// programs are program32.exe and program64.exe beside this file: fixed copies
// of the project's sample program (tests/programs), so that the streams
// stay byte for byte what was recorded.
#ifndef TESTS_DIFFERENTIAL_CORPUS_H_
#define TESTS_DIFFERENTIAL_CORPUS_H_

#include <string>
#include <vector>

#include "tests/helpers/package_builder.h"

namespace differential {

struct CorpusPackage {
  std::string name;  // also the file name, without ".exe"
  packaging::Bytes bytes;
};

// `count` packages from `seed`: about two fifths valid ones across the
// options, the rest damaged (flipped bytes, cut files, record fields at edge
// values with the CRC made to match or not). Seed 3 is a fixed set of (at
// most 5) setup programs of the kinds Windows does not start as a process.
std::vector<CorpusPackage> MakeCorpus(uint32_t seed, int count, const packaging::Bytes& launcher,
                                      const packaging::Bytes& program32, const packaging::Bytes& program64);

// A machine row of tests/differential/rows.tsv, which record.sh reads too.
struct Row {
  std::string name;
  std::string prefix;       // Wine prefix: "win64" or "win32"
  std::string wineVersion;  // Wine's version name
  bool with32 = false;      // "/32" on the command line
  uint32_t major = 0, minor = 0;  // what that version reports
  bool is64 = false;
};
const std::vector<Row>& Rows();

}  // namespace differential

#endif  // TESTS_DIFFERENTIAL_CORPUS_H_
