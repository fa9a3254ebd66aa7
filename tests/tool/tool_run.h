// What the tool tests share: the tool run as its users run it (its exit
// status, standard output and errors), files in a folder of each test's own,
// and the real launcher and sample programs of the windows build.
#ifndef TESTS_TOOL_TOOL_RUN_H_
#define TESTS_TOOL_TOOL_RUN_H_

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include "launcher/crc32.h"
#include "launcher/fatal.h"
#include "tests/helpers/package_builder.h"
#include "tools/packaging/codes.h"
#include "tools/packaging/windows_releases.h"
#include "host/pe_image.h"
#include "tools/pe/pe_rewrite.h"
#include "tools/package_tool/output_files.h"
#include "tools/pe/branding.h"

namespace tool_test {

using nlohmann::json;

const std::string kTool = SETUP_PACKAGE;
const std::string kBuild = WINDOWS_BUILD_DIR;
const std::string kLauncher = kBuild + "/launcher.exe";
const std::string kSetup32 = kBuild + "/sample_setup32.exe";
const std::string kSetup64 = kBuild + "/sample_setup64.exe";
const std::string kIcon = EXAMPLE_ICON;

struct Result {
  int status;
  std::string output;  // standard output
  std::string errors;  // standard error
  std::string all() const { return output + errors; }
};

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void Spit(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

inline Result RunTool(const std::string& arguments, const std::string& tool = kTool) {
  char errors[] = "/tmp/setup-package-stderr-XXXXXX";
  const int fd = mkstemp(errors);
  close(fd);
  Result r{-1, "", ""};
  FILE* pipe = popen((tool + " " + arguments + " 2>" + errors).c_str(), "r");
  if (pipe != nullptr) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.output.append(buffer, n);
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  r.errors = Slurp(errors);
  unlink(errors);
  return r;
}

inline json Json(const Result& r) {
  try {
    return json::parse(r.output);
  } catch (const json::exception& e) {
    ADD_FAILURE() << "not JSON: " << e.what() << "\n" << r.output;
    return json();
  }
}

inline bool Exists(const std::string& path) {
  struct stat s;
  return lstat(path.c_str(), &s) == 0;
}

inline packaging::Bytes Bytes(const std::string& path) {
  const std::string s = Slurp(path);
  return packaging::Bytes(s.begin(), s.end());
}

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/setup-package-test-XXXXXX";
    dir_ = mkdtemp(name);
    Spit(dir_ + "/data.bin", "setup data for the program\n");
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string BuildArgs(const std::string& output) const {
    return "build --launcher " + kLauncher + " --program32 " + kSetup32 + " --program64 " + kSetup64 +
           " --setup-data " + dir_ + "/data.bin --architecture-message 'Wrong machine.'"
           " --version-message 'Not on %USER% \xc3\xa9' --versions 'Windows 7, later' --output " + output;
  }

  // A package made by the shared writer around the real launcher and sample
  // programs, its records changed by `adjust` (the CRC made to match again).
  std::string Made(const std::string& name,
                   std::function<void(launcher::PackageLocator&, launcher::PackageHeader&)> adjust,
                   std::function<void(packaging::PackageInput&)> input = nullptr) const {
    packaging::PackageInput in;
    in.image = Bytes(kLauncher);
    in.program32 = Bytes(kSetup32);
    in.setupData = packaging::Bytes(5000, 0x42);
    in.adjust = adjust;
    if (input) input(in);
    packaging::BuiltPackage p;
    std::string error;
    EXPECT_TRUE(packaging::BuildPackage(in, &p, &error)) << error;
    const std::string path = dir_ + "/" + name;
    Spit(path, std::string(p.bytes.begin(), p.bytes.end()));
    return path;
  }

  std::string dir_;
};

inline std::u16string U16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

struct Call {
  const char* arguments;  // DIR: the test folder; L, P32, P64: launcher and programs
  int status;
  const char* says;  // on standard error
};

// One pass over `s`: what a word is replaced with is never searched again
// (the random folder name may hold "P32" or "DIR").
inline std::string Expand(const std::string& s, const std::string& dir) {
  const std::pair<std::string, std::string> words[] = {
      {"DIR", dir}, {"P32", kSetup32}, {"P64", kSetup64}, {"L ", kLauncher + " "}};
  std::string out;
  for (size_t at = 0; at < s.size();) {
    bool replaced = false;
    for (const auto& [word, with] : words) {
      if (s.compare(at, word.size(), word) == 0) {
        out += with, at += word.size(), replaced = true;
        break;
      }
    }
    if (!replaced) out += s[at++];
  }
  return out;
}

}  // namespace tool_test

#endif  // TESTS_TOOL_TOOL_RUN_H_
