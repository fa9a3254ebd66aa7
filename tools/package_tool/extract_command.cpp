#include <cstdio>
#include <filesystem>
#include <string>

#include "tools/package/package_reader.h"
#include "tools/package_tool/commands.h"

namespace tool {

namespace {

const char kUsage[] =
    "usage: setup-package extract PACKAGE --output-dir FOLDER\n"
    "\n"
    "Writes the decoded setup programs (setup32.exe, setup64.exe) and the setup data\n"
    "(setup-data.bin) of the package into FOLDER, decoded by the launcher's own code.\n";

}  // namespace

int Extract(Arguments& args) {
  std::string path, folder;
  while (!args.Done()) {
    const std::string word = args.Next();
    if (word == "--help" || word == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (word == "--output-dir" && args.Value(&folder)) {
    } else if (path.empty() && word[0] != '-') {
      path = word;
    } else {
      return UsageError(kUsage);
    }
  }
  if (path.empty() || folder.empty()) return UsageError(kUsage);
  packaging::Bytes file;
  if (!ReadFile(path, &file)) return Fail(path + ": cannot read");
  const packaging::PackageView view = packaging::ReadPackage(file);
  if (!view.headerRead) return Fail(path + ": " + (view.problems.empty() ? "no package" : view.problems[0]));
  const launcher::PackageHeader& h = view.header;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) return Fail(folder + ": cannot create the folder");
  int written = 0;
  auto extract = [&](const launcher::PayloadEntry& entry, const char* name) {
    packaging::Bytes program;
    std::string message;
    if (!packaging::DecodeEntry(file, entry, &program, &message)) {
      return Fail(path + ": " + name + ": the launcher would refuse it: " + message);
    }
    const std::string out = folder + "/" + name;
    if (!WriteFileAtomically(out, program)) return Fail(out + ": cannot write");
    std::printf("%s: %zu bytes\n", out.c_str(), program.size());
    ++written;
    return 0;
  };
  if (h.payload32.offset != 0 && extract(h.payload32, "setup32.exe") != 0) return 1;
  if (h.payload64.offset != 0 && h.payload64.offset != launcher::kNotFor64BitWindows &&
      extract(h.payload64, "setup64.exe") != 0) {
    return 1;
  }
  for (const packaging::Region& r : view.regions) {
    if (r.name != "setup data") continue;
    const std::string out = folder + "/setup-data.bin";
    if (!WriteFileAtomically(out, packaging::Bytes(file.begin() + r.start, file.begin() + r.end))) {
      return Fail(out + ": cannot write");
    }
    std::printf("%s: %zu bytes\n", out.c_str(), static_cast<size_t>(r.end - r.start));
  }
  return written > 0 ? 0 : Fail(path + ": no setup program in the package");
}

}  // namespace tool
