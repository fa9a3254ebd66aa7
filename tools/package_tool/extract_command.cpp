#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

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
  return [s, &common]() {
    packaging::Bytes file;
    std::string error;
    if (!ReadInputFile(s->package, &file, &error)) return Fail(kExitInputOutput, error);
    const packaging::PackageView view = packaging::ReadPackage(file);
    if (!view.headerRead) {
      return Fail(kExitProblems, s->package + ": " + (view.problems.empty() ? "no package" : view.problems[0]));
    }
    for (const std::string& p : view.problems) {
      if (s->salvage) Warn(common, s->package + ": " + Escaped(p));
    }
    if (!view.problems.empty() && !s->salvage) {
      Fail(kExitProblems, s->package + ": " + Escaped(view.problems[0]));
      return Fail(kExitProblems, "nothing extracted from a package with problems (--salvage writes what can be read)");
    }
    if (::mkdir(s->folder.c_str(), 0755) != 0 && errno != EEXIST) {
      return Fail(kExitInputOutput, s->folder + ": " + std::strerror(errno));
    }
    struct stat st;
    if (::stat(s->folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      return Fail(kExitInputOutput, s->folder + ": not a folder");
    }
    const Existing existing = s->force ? Existing::kReplace : Existing::kRefuse;
    int status = view.problems.empty() ? kExitFine : kExitProblems;
    int written = 0;
    auto write = [&](const char* name, const packaging::Bytes& bytes) {
      // Fixed names only: nothing from the package decides where a file goes.
      const std::string out = s->folder + "/" + name;
      std::string why;
      if (!WriteOutputFile(out, bytes, existing, &why)) {
        status = Fail(kExitInputOutput, why);
        return;
      }
      ++written;
      if (!common.quiet) std::printf("%s: %zu bytes\n", out.c_str(), bytes.size());
    };
    const launcher::PackageHeader& h = view.header;
    auto extract = [&](const launcher::PayloadEntry& entry, const char* name) {
      const packaging::Decoded d = packaging::DecodeWithinLimit(file, entry);
      if (!d.ok) {
        status = Fail(kExitProblems, s->package + ": " + name + ": " +
                                         (d.beyondLimit ? d.message : "the launcher would refuse it: " + d.message));
        return;
      }
      write(name, d.program);
    };
    if (h.payload32.offset != 0) extract(h.payload32, "setup32.exe");
    if (h.payload64.offset != 0 && h.payload64.offset != launcher::kNotFor64BitWindows) {
      extract(h.payload64, "setup64.exe");
    }
    for (const packaging::Region& r : view.regions) {
      if (r.name != "setup data" || r.end > file.size()) continue;
      write("setup-data.bin", packaging::Bytes(file.begin() + r.start, file.begin() + r.end));
    }
    if (written == 0 && status == kExitFine) return Fail(kExitProblems, s->package + ": no setup program in the package");
    return status;
  };
}

}  // namespace tool
