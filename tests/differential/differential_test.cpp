// The simulated machine against the real launcher under Wine: every package of
// the differential corpus on every machine row, as recorded by record.sh
// (outcomes-s1.tsv; outcomes-s2.tsv is a held-out corpus that was not looked
// at while the simulated machine was made strict). Every outcome must agree:
// there are no known differences.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "launcher/fatal.h"

#include "launcher/main_sequence.h"
#include "launcher/setup_launch.h"
#include "platform/sim/sim_machine.h"
#include "tests/differential/corpus.h"
#include "tests/helpers/relay_trace.h"
#include "host/code_pages.h"
#include "host/pe_image.h"
#include "host/utf.h"
#include "tools/packaging/windows_releases.h"

namespace {

packaging::Bytes Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return packaging::Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct Recorded {
  std::string name, row, exitCode, outcome;
};

std::vector<Recorded> Load(const std::string& path) {
  std::vector<Recorded> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Recorded r;
    std::getline(fields, r.name, '\t');
    std::getline(fields, r.row, '\t');
    std::getline(fields, r.exitCode, '\t');
    std::getline(fields, r.outcome);
    out.push_back(r);
  }
  return out;
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// One run on the simulated machine as the row's Wine has it: an
// administrator (Wine's user is one), code page 1252, the row's version.
std::pair<uint32_t, std::string> Simulate(const packaging::Bytes& package, const differential::Row& row,
                                          const std::string& name) {
  sim::Machine machine;
  packaging::PutOnRelease(*packaging::FindRelease(packaging::kPlatformNt, row.major, row.minor), row.is64, &machine);
  machine.administrator = true;
  machine.modulePath = "Z:\\host\\run-" + row.name + "\\" + name + ".exe";
  machine.commandLine = "\"" + machine.modulePath + "\"" + (row.with32 ? " /32" : "");
  machine.tempPath = "C:\\users\\root\\Temp\\";
  machine.AddFolder("C:\\users\\root\\Temp");
  machine.AddFile(machine.modulePath, package);
  // Which program ran, by its kind (as the sample program reports its bits).
  std::string ran = "none";
  machine.onProcessStart = [&](const sim::ProcessStart& start) {
    const std::string copy = start.commandLine.substr(1, start.commandLine.find('"', 1) - 1);
    std::string why;
    ran = pe::CheckProgram(machine.FileBytes(copy), pe::kMachineAmd64, &why) ? "runs 64" : "runs 32";
  };
  // A file whose launcher image is cut is no program: Windows does not start it.
  if (!machine.CanStart(machine.modulePath)) return {~0u, "not started"};
  const uint32_t code = machine.Run([] { launcher::LauncherMain(); });
  if (!machine.messageBoxes.empty()) return {code, "box " + machine.messageBoxes[0].text};
  return {code, ran};
}

// The packages a recording was made of, made again from its seed. The setup
// programs are fixed copies of the sample program: a package's stream must
// be the very one that was recorded (the sample builds carry a link
// timestamp).
std::vector<differential::CorpusPackage> CorpusOf(uint32_t seed, const std::vector<Recorded>& recorded) {
  std::set<std::string> names;
  for (const Recorded& r : recorded) names.insert(r.name);
  const std::string build = WINDOWS_BUILD_DIR, fixtures = std::string(SOURCE_DIR) + "/tests/differential";
  return differential::MakeCorpus(seed, static_cast<int>(names.size()), Read(build + "/launcher.exe"),
                                  Read(fixtures + "/program32.exe"), Read(fixtures + "/program64.exe"));
}

// Where Wine starts what Windows does not, the launcher's steps follow
// Windows: an image without the executable-image flag, a native and an EFI
// image are no process to Windows (the launcher shows the not-executed
// message); Wine runs them. These differ, and only so.
bool WindowsRefuses(const Recorded& r) {
  return r.name.find("program-unfinished") != std::string::npos ||
         r.name.find("program-native") != std::string::npos || r.name.find("program-efi") != std::string::npos;
}

// Whether an outcome in the simulated machine's words ("runs 32", "box " and
// the text, "not started", "none") is what Wine recorded, and `code` its
// exit code where one is given.
bool Agrees(const Recorded& r, const std::string& outcome, const std::optional<uint32_t>& code) {
  if (WindowsRefuses(r)) {
    return r.outcome.rfind("runs ", 0) == 0 && outcome == std::string("box ") + launcher::kNotExecutedMessage;
  }
  // Wine reports a file it does not start with an exit code of its own (and no box).
  if (outcome == "not started") return r.outcome == "none" && r.exitCode != "0";
  if (code && std::to_string(*code) != r.exitCode) return false;
  if (r.outcome.rfind("box ", 0) == 0 && outcome.rfind("box ", 0) == 0) {
    // A runtime error names a code address of the real executable; the
    // simulated machine's is a host address. The number must agree.
    const std::string shown = Unhex(r.outcome.substr(4)), text = outcome.substr(4);
    const std::string runtime = "Runtime error ";
    if (shown.rfind(runtime, 0) == 0 && text.rfind(runtime, 0) == 0) {
      return shown.substr(0, shown.find(" at ")) == text.substr(0, text.find(" at "));
    }
    return relay::ShownAs(shown, text);
  }
  return outcome == r.outcome;
}

void Compare(uint32_t seed, const char* file) {
  const std::vector<Recorded> recorded = Load(std::string(SOURCE_DIR) + "/tests/differential/" + file);
  ASSERT_FALSE(recorded.empty()) << file << ": no recorded outcomes (tests/differential/record.sh)";
  const auto corpus = CorpusOf(seed, recorded);
  std::map<std::string, const packaging::Bytes*> byName;
  for (const auto& p : corpus) byName[p.name] = &p.bytes;
  int agree = 0, total = 0, windowsNotWine = 0;
  for (const Recorded& r : recorded) {
    ASSERT_TRUE(byName.count(r.name)) << r.name << ": the corpus no longer makes this package; record again";
    const differential::Row* row = nullptr;
    for (const differential::Row& candidate : differential::Rows()) {
      if (r.row == candidate.name) row = &candidate;
    }
    ASSERT_NE(row, nullptr) << r.row;
    const auto [code, outcome] = Simulate(*byName[r.name], *row, r.name);
    ++total;
    windowsNotWine += WindowsRefuses(r);
    if (Agrees(r, outcome, code)) {
      ++agree;
    } else {
      ADD_FAILURE() << r.name << " on " << r.row << ": Wine: exit " << r.exitCode << ", "
                    << (r.outcome.rfind("box ", 0) == 0 ? "box \"" + Unhex(r.outcome.substr(4)) + "\"" : r.outcome)
                    << "; simulated: exit " << code << ", " << outcome;
    }
  }
  std::printf("%s: %d of %d outcomes as expected (%.2f %%); %d of them where Windows refuses a program Wine "
              "runs\n", file, agree, total, 100.0 * agree / total, windowsNotWine);
}

TEST(DifferentialTest, CorpusAgreesWithWine) { Compare(1, "outcomes-s1.tsv"); }
TEST(DifferentialTest, HeldOutCorpusAgreesWithWine) { Compare(2, "outcomes-s2.tsv"); }
TEST(DifferentialTest, ProgramKindsAgreeWithWine) { Compare(3, "outcomes-s3.tsv"); }
TEST(DifferentialTest, FreshCorpusAgreesWithWine) { Compare(4, "outcomes-s4.tsv"); }

// What `setup-package verify` says of a package on each machine row, in the
// simulated machine's words ("runs 32", "box " and the text in the row's
// code page, "not started"), or "not checked".
std::map<std::string, std::string> VerifyOutcomes(const std::string& path) {
  FILE* pipe = popen((std::string(SETUP_PACKAGE) + " verify --json '" + path + "' 2>/dev/null").c_str(), "r");
  std::string out;
  char buffer[65536];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  pclose(pipe);
  const nlohmann::json j = nlohmann::json::parse(out);
  std::map<std::string, std::string> outcomes;
  for (const differential::Row& row : differential::Rows()) {
    const std::string windows =
        packaging::ReleaseName(*packaging::FindRelease(packaging::kPlatformNt, row.major, row.minor));
    for (const nlohmann::json& r : j["rows"]) {
      if (r["windows"] != windows || r["bits"] != (row.is64 ? 64 : 32) || r["with32"] != row.with32 ||
          r["administrator"] != true || r["silent"] != false) {
        continue;
      }
      const std::string kind = r["outcome"];
      std::u16string text;
      if (r.contains("message")) host::Utf8ToUtf16(r["message"].get<std::string>(), &text);
      const bool box = kind == "message" || kind == "runtime error";
      outcomes[row.name] = kind == "runs" ? "runs " + r["program"].get<std::string>().substr(0, 2)
                           : box          ? "box " + host::WideToAnsi(j["codePage"].get<uint32_t>(), text)
                                          : kind;
    }
  }
  return outcomes;
}

// verify's verdicts against the real launcher on every recorded corpus: the
// launcher's own steps on the simulated machine, as above, plus what verify
// adds (a modified launcher's rows are not checked, and not counted).
TEST(DifferentialTest, VerifyAgreesWithWine) {
  std::string made = testing::TempDir() + "verify-corpus-XXXXXX";  // a folder of this run's own
  ASSERT_NE(mkdtemp(made.data()), nullptr);
  const std::string dir = made;
  int agree = 0, total = 0, notChecked = 0;
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    const std::vector<Recorded> recorded =
        Load(std::string(SOURCE_DIR) + "/tests/differential/outcomes-s" + std::to_string(seed) + ".tsv");
    std::map<std::string, std::map<std::string, std::string>> verdicts;
    for (const auto& p : CorpusOf(seed, recorded)) {
      const std::string path = dir + "/" + p.name + ".exe";
      std::ofstream(path, std::ios::binary)
          .write(reinterpret_cast<const char*>(p.bytes.data()), static_cast<std::streamsize>(p.bytes.size()));
      verdicts[p.name] = VerifyOutcomes(path);
    }
    for (const Recorded& r : recorded) {
      const std::string said = verdicts[r.name][r.row];
      if (said == "not checked") {
        ++notChecked;
        continue;
      }
      ++total;
      if (Agrees(r, said, std::nullopt)) ++agree;
      else std::printf("verify differs: %s on %s: Wine %s, verify %s\n", r.name.c_str(), r.row.c_str(),
                       r.outcome.substr(0, 60).c_str(), said.substr(0, 60).c_str());
    }
  }
  std::system(("rm -rf '" + dir + "'").c_str());
  std::printf("verify: %d of %d outcomes agree with Wine (%.2f %%); %d rows not checked (a modified launcher)\n",
              agree, total, 100.0 * agree / total, notChecked);
  EXPECT_GE(agree * 1000, total * 995) << "verify must agree on at least 99.5 % of the rows it checks";
}

}  // namespace
