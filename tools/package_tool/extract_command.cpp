// setup-package extract: the programs and setup data written, all or none.

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/system/files.h"
#include "tools/packaging/package_reader.h"
#include "tools/packaging/program_check.h"
#include "tools/package_tool/commands.h"
#include "tools/package_tool/input_files.h"
#include "tools/package_tool/launcher_identity.h"
#include "tools/package_tool/output_files.h"
#include "tools/package_tool/package_check.h"
#include "tools/package_tool/package_words.h"
#include "tools/package_tool/report.h"

namespace tool {

Runner AddExtract(CLI::App& app, const Common& common) {
  struct Settings {
    std::string package, folder;
    bool force = false, salvage = false;
    std::optional<std::string> reference;
  };
  auto settings = std::make_shared<Settings>();
  CLI::App* sub = app.add_subcommand(
      "extract",
      "Writes the decoded setup programs (setup32.exe, setup64.exe) and the setup data\n"
      "(setup-data.bin) of the package into the folder --output-dir names, decoded by the\n"
      "launcher's own code. Existing files are kept unless --force is given. A package with\n"
      "problems (a CRC or size that does not match, a payload the launcher refuses, a launcher\n"
      "image other than this tool's) is not\n"
      "extracted (exit status 1) unless --salvage is given, which writes what can be read and\n"
      "still exits 1.");
  sub->add_option("PACKAGE", settings->package, "the package file")->required();
  sub->add_option("--output-dir", settings->folder, "the folder to write into (made when missing)")->required();
  sub->add_flag("--force", settings->force, "replace files that exist");
  sub->add_flag("--salvage", settings->salvage, "write what can be read from a damaged package");
  AddReferenceOption(sub, &settings->reference);
  return [settings, &common]() -> int {
    MappedFile file;
    std::string error;
    if (!MapInputFile(settings->package, &file, &error)) return Fail(kExitInputOutput, error);
    std::optional<packaging::Bytes> reference;
    if (!LoadReference(settings->reference, &reference, &error)) return Fail(kExitInputOutput, error);
    LauncherIdentity identity;
    packaging::PackageView view = ReadCompared(file.bytes, reference, &identity);
    if (!view.hasPackage) return Fail(kExitProblems, NoPackageSentence(settings->package, view) + " (nothing extracted)");
    if (!view.headerRead) return Fail(kExitProblems, Escaped(settings->package) + ": " + Escaped(view.problems[0]));
    // Every program is decoded straight into its temporary file and checked
    // as inspect checks it; only a package without problems (or --salvage)
    // gives its files their names, all of them or none. Fixed names only:
    // nothing from the package decides where a file goes. A folder this call
    // made goes again when nothing is extracted.
    OutputSet outputs(settings->force ? Existing::kReplace : Existing::kRefuse);
    for (const char* name : {"setup32.exe", "setup64.exe", "setup-data.bin"}) {
      if (sys::SameFile(settings->folder + "/" + name, settings->package)) {
        return Fail(kExitUsage, "--output-dir " + Escaped(settings->folder) + ": its " + name + " is the package being read");
      }
    }
    std::string reason;
    const sys::Outcome made = sys::MakeFolder(settings->folder, &reason);
    if (made == sys::Outcome::kFailed) return Fail(kExitInputOutput, settings->folder + ": " + reason);
    if (made == sys::Outcome::kDone) outputs.MadeFolder(settings->folder);
    if (sys::KindOf(settings->folder) != sys::FileKind::kFolder) return Fail(kExitInputOutput, settings->folder + ": not a folder");
    auto fail = [&](int status, const std::string& why) {
      outputs.Abandon();
      return Fail(status, why);
    };
    const launcher::PackageHeader& h = view.header;
    packaging::ProgramSlot slot32, slot64;
    int index32 = -1, index64 = -1, indexData = -1;
    if (h.payload32.offset != 0 && (index32 = outputs.Add(settings->folder + "/setup32.exe", &error)) < 0) {
      return fail(kExitInputOutput, error + " (nothing extracted)");
    }
    if (launcher::HasPayload64(h) && (index64 = outputs.Add(settings->folder + "/setup64.exe", &error)) < 0) {
      return fail(kExitInputOutput, error + " (nothing extracted)");
    }
    slot32.sink = [&](const uint8_t* b, size_t n) { outputs.Write(index32, b, n); };
    slot64.sink = [&](const uint8_t* b, size_t n) { outputs.Write(index64, b, n); };
    slot32.progress = slot64.progress = ShowsProgress(common);
    packaging::CheckPrograms(file.bytes, &view, &slot32, &slot64);
    AddLauncherProblem(identity, &view);
    for (const packaging::Region& r : view.regions) {
      if (r.kind != packaging::RegionKind::kSetupData || r.end > file.bytes.size()) continue;
      if ((indexData = outputs.Add(settings->folder + "/setup-data.bin", &error)) < 0) {
        return fail(kExitInputOutput, error + " (nothing extracted)");
      }
      outputs.Write(indexData, file.bytes.data() + r.start, r.end - r.start);
    }
    const std::vector<std::string>& problems = view.problems;
    if (!problems.empty() && !settings->salvage) {
      Fail(kExitProblems, settings->package + ": " + Escaped(problems[0]));
      return fail(kExitProblems, "nothing extracted from a package with problems (--salvage writes what can be read)");
    }
    for (const std::string& p : problems) Warn(common, settings->package + ": " + Escaped(p));
    // A program that did not decode whole is no program.
    struct Named {
      int index;
      const packaging::ProgramSlot* slot;  // null: the setup data
      const char* name;
    };
    const Named named[] = {{index32, &slot32, "setup32.exe"}, {index64, &slot64, "setup64.exe"},
                           {indexData, nullptr, "setup-data.bin"}};
    int programs = 0;
    for (const Named& n : named) {
      if (n.index < 0 || n.slot == nullptr) continue;
      if (!n.slot->decoded.ok || n.slot->decoded.produced == 0) outputs.Drop(n.index);
      else ++programs;
    }
    std::string why;
    if (!outputs.Commit(&why)) return fail(kExitInputOutput, why + " (nothing extracted)");
    for (const Named& n : named) {
      if (n.index < 0 || outputs.Dropped(n.index) || common.quiet) continue;
      std::printf("%s: %" PRIu64 " bytes\n", Escaped(settings->folder + "/" + n.name).c_str(), outputs.Written(n.index));
    }
    const int status = problems.empty() ? kExitFine : kExitProblems;
    if (programs == 0 && status == kExitFine) return Fail(kExitProblems, settings->package + ": no setup program in the package");
    return status;
  };
}

}  // namespace tool
