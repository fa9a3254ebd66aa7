#include "tests/e2e/wine_harness.h"

#include "tests/helpers/relay_trace.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

namespace e2e {

namespace {

std::vector<std::pair<std::string, CaseMaker>>& Makers() {
  static std::vector<std::pair<std::string, CaseMaker>> makers;
  return makers;
}

std::map<std::string, WineCase>& Cases() {
  static std::map<std::string, WineCase> cases;
  return cases;
}

packaging::Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return packaging::Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const packaging::Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Writes the cases into the job folder and the script the guest runs.
void WriteJob(const std::string& job) {
  std::ostringstream script;
  script << "# Written by the end-to-end harness; run by scripts/wine/run.sh.\n"
            ". ./wine-job.sh\n"
            "printf '%s' \"$JOB_WINDOWS\" >windows-folder.txt\n"
            "printf '%s' \"$WINE_USER\" >wine-user.txt\n"
            "start_servers\n";
  // The Windows versions, per prefix and version: one call names every
  // executable that version is for.
  std::map<std::pair<std::string, std::string>, std::string> versions;
  for (auto& [name, c] : Cases()) {
    if (!c.windowsVersion.empty()) versions[{c.prefix, c.windowsVersion}] += " " + Quote(c.exeName);
  }
  for (auto& [prefixVersion, exes] : versions) {
    script << "use_prefix " << prefixVersion.first << "\nwindows_version " << prefixVersion.second << exes << "\n";
  }
  for (auto& [name, c] : Cases()) {
    script << "\n# " << name << "\n"
           << "cd \"$JOB/" << name << "\"\n"
           << "use_prefix " << c.prefix << "\n"
           << "TEMPDIR=$(temp_folder)\n"
           << c.before << "\n"
           << "WINEDEBUG=+relay " << c.environment << " timeout 300 wine ./" << c.exeName << " "
           << c.arguments
           << " >stdout.txt 2>stderr.txt; echo $? >rc.txt\n"
           << c.after << "\n"
           << "ls -1 \"$TEMPDIR\" >temp-after.txt 2>/dev/null\n";
  }
  script << "\ncd \"$JOB\"\nstop_servers\n";
  const std::string text = script.str();
  WriteBytes(job + "/job.sh", packaging::Bytes(text.begin(), text.end()));
}

void RunAllCases() {
  const std::string job = std::string(E2E_WORK_DIR) + "/job";
  Shell("rm -rf " + Quote(job));
  Shell("mkdir -p " + Quote(job));
  for (auto& [name, maker] : Makers()) {
    WineCase& c = Cases()[name];
    c.name = name;
    maker(c);
    c.folder = job + "/" + name;
    mkdir(c.folder.c_str(), 0755);
    WriteBytes(c.folder + "/" + c.exeName, c.package);
    for (auto& [file, bytes] : c.files) WriteBytes(c.folder + "/" + file, bytes);
  }
  WriteJob(job);
  std::cout << "[wine] running " << Cases().size() << " cases in one Wine job\n" << std::flush;
  const std::string run = std::string(SOURCE_DIR) + "/scripts/wine/run.sh";
  if (Shell(Quote(run) + " " + Quote(job)) != 0 || ReadText(job + "/job.rc").empty()) {
    throw std::runtime_error("the Wine job did not finish; see " + job + "/job.log");
  }
  const std::string windowsJob = ReadText(job + "/windows-folder.txt");
  const std::string user = ReadText(job + "/wine-user.txt");
  if (windowsJob.empty() || user.empty()) {
    throw std::runtime_error("the Wine job did not say where it ran; see " + job + "/job.log");
  }
  for (auto& [name, c] : Cases()) {
    const std::string rc = c.ReadFile("rc.txt");
    c.exitCode = rc.empty() ? -1 : std::atoi(rc.c_str());
    c.trace = c.ReadFile("stderr.txt");
    c.boxes = relay::ParseBoxes(c.trace);
    c.windowsFolder = windowsJob + "\\" + name;
    c.tempFolder = "C:\\users\\" + user + "\\Temp";
  }
}

}  // namespace

std::string WineCase::ReadFile(const std::string& relative) const {
  return ReadText(folder + "/" + relative);
}

bool WineCase::HasFile(const std::string& relative) const {
  struct stat s;
  return stat((folder + "/" + relative).c_str(), &s) == 0;
}

bool RegisterCase(const char* name, CaseMaker maker) {
  Makers().emplace_back(name, maker);
  return true;
}

const WineCase& Result(const std::string& name) {
  auto it = Cases().find(name);
  if (it == Cases().end()) throw std::logic_error("no Wine case " + name);
  return it->second;
}

const packaging::Bytes& LauncherImage() {
  static const packaging::Bytes image = ReadBytes(std::string(WINDOWS_BUILD_DIR) + "/launcher.exe");
  return image;
}

const packaging::Bytes& TestLauncherImage(const std::string& name) {
  static std::map<std::string, packaging::Bytes> images;
  auto it = images.find(name);
  if (it == images.end()) it = images.emplace(name, ReadBytes(std::string(WINDOWS_BUILD_DIR) + "/" + name + ".exe")).first;
  return it->second;
}

const packaging::Bytes& SampleSetup32() {
  static const packaging::Bytes image = ReadBytes(std::string(WINDOWS_BUILD_DIR) + "/sample_setup32.exe");
  return image;
}

const packaging::Bytes& SampleSetup64() {
  static const packaging::Bytes image = ReadBytes(std::string(WINDOWS_BUILD_DIR) + "/sample_setup64.exe");
  return image;
}

const packaging::Bytes& PlantedDll() {
  static const packaging::Bytes dll = ReadBytes(std::string(WINDOWS_BUILD_DIR) + "/planted.dll");
  return dll;
}

packaging::PackageInput SamplePackageInput() {
  packaging::PackageInput input;
  input.image = LauncherImage();
  input.program32 = SampleSetup32();
  input.setupData = packaging::Bytes(10000, 0x33);
  return input;
}

packaging::Bytes BuildOrDie(const packaging::PackageInput& input) {
  packaging::BuiltPackage package;
  std::string error;
  if (!packaging::BuildPackage(input, &package, &error)) throw std::runtime_error(error);
  return package.bytes;
}


}  // namespace e2e

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  try {
    e2e::RunAllCases();
  } catch (const std::exception& e) {
    std::cerr << "[wine] " << e.what() << "\n";
    return 1;
  }
  return RUN_ALL_TESTS();
}
