#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/package/package_reader.h"
#include "tools/package_tool/commands.h"
#include "tools/package_tool/files.h"
#include "tools/package_tool/report.h"

namespace tool {

Runner AddExtract(CLI::App& app, const Common& common) {
  struct Settings {
    std::string package, folder;
    bool force = false, salvage = false;
  };
  auto s = std::make_shared<Settings>();
  CLI::App* sub = app.add_subcommand(
      "extract",
      "Writes the decoded setup programs (setup32.exe, setup64.exe) and the setup data\n"
      "(setup-data.bin) of the package into FOLDER, decoded by the launcher's own code. Existing\n"
      "files are kept unless --force is given. A package with problems (a CRC or size that does\n"
      "not match, a payload the launcher refuses) is not extracted (exit status 1) unless\n"
      "--salvage is given, which writes what can be read and still exits 1.");
  sub->add_option("PACKAGE", s->package, "the package file")->required();
  sub->add_option("--output-dir", s->folder, "the folder to write into (made when missing)")->required();
  sub->add_flag("--force", s->force, "replace files that exist");
  sub->add_flag("--salvage", s->salvage, "write what can be read from a damaged package");
  return [s, &common]() -> int {
    packaging::Bytes file;
    std::string error;
    if (!ReadInputFile(s->package, &file, &error)) return Fail(kExitInputOutput, error);
    packaging::PackageView view = packaging::ReadPackage(file);
    if (!view.headerRead) {
      return Fail(kExitProblems, s->package + ": " + (view.problems.empty() ? "no package" : view.problems[0]));
    }
    // Everything is decoded and checked before anything is written, as
    // inspect does: a payload the launcher refuses, or a program Windows
    // would not start, is a problem like any other.
    packaging::Bytes program32, program64;
    packaging::CheckPrograms(file, &view, &program32, &program64);
    const std::vector<std::string>& problems = view.problems;
    struct Output {
      const char* name;
      packaging::Bytes bytes;
    };
    std::vector<Output> outputs;
    if (!program32.empty()) outputs.push_back({"setup32.exe", std::move(program32)});
    if (!program64.empty()) outputs.push_back({"setup64.exe", std::move(program64)});
    for (const packaging::Region& r : view.regions) {
      if (r.kind != packaging::RegionKind::kSetupData || r.end > file.size()) continue;
      outputs.push_back({"setup-data.bin", packaging::Bytes(file.begin() + r.start, file.begin() + r.end)});
    }
    if (!problems.empty() && !s->salvage) {
      Fail(kExitProblems, s->package + ": " + Escaped(problems[0]));
      return Fail(kExitProblems, "nothing extracted from a package with problems (--salvage writes what can be read)");
    }
    for (const std::string& p : problems) Warn(common, s->package + ": " + Escaped(p));

    if (::mkdir(s->folder.c_str(), 0755) != 0 && errno != EEXIST) {
      return Fail(kExitInputOutput, s->folder + ": " + std::strerror(errno));
    }
    struct stat st;
    if (::stat(s->folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      return Fail(kExitInputOutput, s->folder + ": not a folder");
    }
    int status = problems.empty() ? kExitFine : kExitProblems;
    // Fixed names only: nothing from the package decides where a file goes.
    // All of them or none.
    std::vector<OutputFile> files;
    int programs = 0;
    for (const Output& o : outputs) {
      files.push_back({s->folder + "/" + o.name, o.bytes});
      programs += std::string(o.name) != "setup-data.bin";
    }
    std::string why;
    if (!WriteOutputFiles(files, s->force ? Existing::kReplace : Existing::kRefuse, &why)) {
      return Fail(kExitInputOutput, why + " (nothing extracted)");
    }
    for (const OutputFile& f : files) {
      if (!common.quiet) std::printf("%s: %zu bytes\n", Escaped(f.path).c_str(), f.bytes.size());
    }
    if (programs == 0 && status == kExitFine) return Fail(kExitProblems, s->package + ": no setup program in the package");
    return status;
  };
}

}  // namespace tool
