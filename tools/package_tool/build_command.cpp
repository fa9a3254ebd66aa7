// setup-package build: the settings resolved, the package written and named.
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>

#include "host/code_pages.h"
#include "host/pe_image.h"
#include "tools/pe/pe_rewrite.h"
#include "host/system/files.h"
#include "tools/packaging/program_head.h"
#include "tools/pe/certificate_table.h"
#include "tools/package_tool/build_input.h"
#include "tools/package_tool/build_options.h"
#include "tools/package_tool/package_file.h"
#include "tools/package_tool/commands.h"
#include "tools/package_tool/file_sink.h"
#include "tools/package_tool/output_files.h"
#include "tools/package_tool/report.h"
#include "tools/package_tool/signing.h"
#include "tools/package_tool/tool_paths.h"

namespace tool {

namespace {

// The settings from the command line over those of the package file, with
// what build requires: a launcher, an output that is none of the inputs, a
// program. kExitFine or the exit status with *error.
int ResolveSettings(const BuildSettings& given, const std::string& config, BuildSettings* s, std::string* error) {
  *s = given;
  if (!config.empty()) {
    BuildSettings fromFile;
    const int status = ReadPackageFile(config, &fromFile, error);
    if (status != kExitFine) return status;
    Merge(s, fromFile);
  }
  if (!s->launcher) s->launcher = InstalledLauncher();
  if (!s->launcher) {
    return *error = "build: --launcher is required (no launcher is installed beside this tool, in " +
                    InstalledLauncherPath() + ")",
           kExitUsage;
  }
  if (!s->output) return *error = "build: --output is required", kExitUsage;
  if (!s->program32 && !s->program64) return *error = "build: give --program32, --program64 or both", kExitUsage;
  // The output never overwrites one of the inputs.
  for (const OptionRow& row : Options()) {
    if (row.kind == OptionKind::kPath && row.text != &BuildSettings::output && (*s).*row.text &&
        sys::SameFile(*s->output, *((*s).*row.text))) {
      return *error = "--output " + Escaped(*s->output) + " is the file given as --" + row.name, kExitUsage;
    }
  }
  if (!config.empty() && sys::SameFile(*s->output, config)) {
    return *error = "--output " + Escaped(*s->output) + " is the package file given as --config", kExitUsage;
  }
  return kExitFine;
}

void ShowProgress(uint64_t done, uint64_t total) {
  std::fprintf(stderr, "\rcompressing: %3u%% of %llu MiB", static_cast<unsigned>(done * 100 / total),
               static_cast<unsigned long long>(total >> 20));
  if (done == total) std::fputc('\n', stderr);
}

// Writes the package into a new file (`file`, to be named `path`): kExitFine,
// or the exit status with *error (1 for what the format cannot say, 3 for
// what could not be read or written).
int WritePackageFile(sys::File file, const std::string& path, const packaging::PackageSettings& input,
                     const packaging::PackageParts& parts, packaging::PackageLayout* package, std::string* error) {
  pe::ImageInfo image;
  if (!pe::Parse(input.image, &image, error)) return kExitProblems;
  FileSink sink(file, path, image.checkSumOffset);
  // With two programs and a thread to spare, the second one's stream waits
  // in a scratch file while the first is compressed.
  ScratchFile scratch;
  std::optional<ScratchSpill> spill;
  if (parts.program32 && parts.program64 && input.threads >= 2 && scratch.Create(path, error)) spill.emplace(scratch.file());
  switch (packaging::WritePackage(input, parts, &sink, package, error, spill ? &*spill : nullptr)) {
    case packaging::WriteResult::kWritten: break;
    case packaging::WriteResult::kRefused: return *error = path + ": " + *error, kExitProblems;
    case packaging::WriteResult::kInputOutputFailed: return kExitInputOutput;
  }
  return sink.Finish() ? kExitFine : (*error = sink.Reason(), kExitInputOutput);
}

// With -v: what the package is made of and how it is compressed.
void SayInputs(const Common& common, const BuildSettings& s, const std::string& config,
               const packaging::PackageSettings& input, const packaging::PackageParts& parts) {
  if (!config.empty()) Say(common, "package file: " + config + " (relative paths from its folder)");
  Say(common, "launcher: " + *s.launcher + " (" + std::to_string(input.image.size()) + " bytes)");
  const std::pair<const std::optional<std::string>*, const std::optional<packaging::PieceSource>*> programs[] = {
      {&s.program32, &parts.program32}, {&s.program64, &parts.program64}};
  for (const auto& [path, part] : programs) {
    if (*part) Say(common, (path == &s.program32 ? "32-bit program: " : "64-bit program: ") + **path + " (" +
                               std::to_string((*part)->size) + " bytes)");
  }
  if (s.setupData) Say(common, "setup data: " + *s.setupData + " (" + std::to_string(parts.setupData.size) + " bytes)");
  const packaging::LzmaSettings& l = input.lzma;
  Say(common, "compressing: LZMA1, preset " + std::to_string(l.preset) + ", dictionary " +
                  std::to_string(l.dictionarySize) + " bytes, lc " + std::to_string(l.lc) + " lp " +
                  std::to_string(l.lp) + " pb " + std::to_string(l.pb) +
                  (parts.program32 && parts.program64 && input.threads >= 2 ? "; both programs at once" : ""));
}

// Whether a program part carries no certificate table.
bool Unsigned(const std::optional<packaging::PieceSource>& program) {
  if (!program) return false;
  packaging::ProgramHead head;
  std::string error;
  return !head.Read(*program, &error) || !pe::CertificateTableOf(head.View(), program->size).consistent;
}

}  // namespace

Runner AddBuild(CLI::App& app, const Common& common) {
  struct State {
    BuildSettings cli;
    std::string config;
    bool json = false, strict = false;
  };
  auto st = std::make_shared<State>();
  CLI::App* sub = app.add_subcommand(
      "build",
      "Makes a package: the launcher image followed by the package (header, the LZMA-compressed\n"
      "setup programs, setup data, messages). Options may also come from a package file\n"
      "(--config, TOML, keys named as the options without the dashes, paths relative to the\n"
      "file); options given here override it. The output appears whole or not at all.");
  sub->add_option("--config", st->config, "a package file (TOML) holding any of the options below");
  AddBuildOptions(sub, &st->cli);
  sub->add_flag("--json", st->json, "print the result as JSON (with a schemaVersion)");
  sub->add_flag("--strict", st->strict, "exit status 1 on a warning too (the package is still written)");
  return [st, &common]() {
    BuildSettings s;
    std::string error;
    int status = ResolveSettings(st->cli, st->config, &s, &error);
    if (status != kExitFine) return Fail(status, error);
    packaging::PackageSettings input;
    packaging::PackageParts parts;
    if ((status = ReadBuildInput(s, &input, &parts, &error)) != kExitFine) return Fail(status, error);
    const auto began = std::chrono::steady_clock::now();
    SayInputs(common, s, st->config, input, parts);
    const bool signing = s.signCommand && !s.signCommand->empty();  // an empty one switches a package file's off
    std::vector<std::unique_ptr<ScratchFile>> signedPrograms;
    if (s.signPrograms.value_or(false)) {
      if (!signing) return Fail(kExitUsage, "--sign-programs needs --sign-command");
      if ((status = SignPrograms(s, *s.signCommand, common, &parts, &signedPrograms, &error)) != kExitFine) {
        return Fail(status, error);
      }
    }
    std::vector<std::string> warnings = InputWarnings(input, parts, s.codePage.value_or(host::kDefaultCodePage));
    const std::string unsignedInside = UnsignedProgramWarning(signing, Unsigned(parts.program32), Unsigned(parts.program64));
    if (!unsignedInside.empty()) warnings.push_back(unsignedInside);
    for (const std::string& w : warnings) Warn(common, w);
    if (ShowsProgress(common) && LargestProgram(parts) > packaging::kProgressFrom) input.lzma.progress = ShowProgress;
    // A signature of the launcher (or of a replaced package) does not cover
    // the new file: its entry goes, and the checksum is made anew as the
    // package is written.
    pe::ClearSignatureAndChecksum(&input.image);
    const std::string reach = s.crcReach.value_or("payloads");
    packaging::PackageLayout package;
    const PackageWriter write = [&](sys::File file, std::string* why) {
      const int written = WritePackageFile(file, *s.output, input, parts, &package, why);
      if (written != kExitFine) return written;
      if (input.crcReach == packaging::CrcReach::kByteCount &&
          uint64_t(package.locator.headerOffset) + input.crcByteCount > package.size) {
        return *why = "--crc-reach " + reach + " reaches past the end of the package (" +
                      std::to_string(package.size - package.locator.headerOffset) + " bytes from the header on)",
               kExitUsage;
      }
      for (const std::string& w : BuiltPackageWarnings(package, reach)) {
        warnings.push_back(w);
        Warn(common, w);
      }
      return kExitFine;
    };
    uint64_t written = 0;
    Say(common, "writing: " + *s.output);
    // An output the package file names lies in that file's folder, which may
    // be one the author cannot write to: a failure says so.
    const bool outputFromFile = !st->cli.output && !st->config.empty();
    auto WithOutputHint = [&](int failed, const std::string& why) {
      if (failed != kExitInputOutput || !outputFromFile) return why;
      return why + " (the package file's output, like all its paths, is relative to its folder, " +
             sys::FolderOf(st->config) + "; --output overrides it)";
    };
    if (signing) {
      Say(common, "signing with: " + *s.signCommand);
      if ((status = WriteSignedPackage(*s.output, write, *s.signCommand, common, &written, &error)) != kExitFine) {
        return Fail(status, WithOutputHint(status, error));
      }
    } else {
      OutputSet output(Existing::kReplace);
      const int index = output.Add(*s.output, &error);
      if (index < 0) return Fail(kExitInputOutput, WithOutputHint(kExitInputOutput, error));
      if ((status = write(output.Descriptor(index), &error)) != kExitFine) return Fail(status, WithOutputHint(status, error));
      if (!output.Commit(&error)) return Fail(kExitInputOutput, WithOutputHint(kExitInputOutput, error));
      written = package.size;
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f s",
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
    Say(common, std::string("done in ") + seconds);
    if (st->json) {
      nlohmann::ordered_json j;
      j["command"] = "build";
      j["output"] = *s.output;
      j["size"] = written;
      j["headerOffset"] = package.locator.headerOffset;
      j["crcLength"] = package.locator.crcLength;
      j["setupData"] = {{"start", package.setupDataOffset},
                        {"end", package.setupDataOffset + parts.setupData.size}};
      j["warnings"] = warnings;
      PrintJson(j);
    } else if (!common.quiet) {
      std::printf("%s: %llu bytes (header at %u, CRC over %u bytes)\n", Escaped(*s.output).c_str(),
                  static_cast<unsigned long long>(written),
                  package.locator.headerOffset, package.locator.crcLength);
    }
    return st->strict && !warnings.empty() ? kExitProblems : kExitFine;
  };
}

}  // namespace tool
