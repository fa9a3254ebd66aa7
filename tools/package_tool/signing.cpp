// Signing inside build: the author's command run on a scratch file, its result checked.
#include "tools/package_tool/signing.h"

#include <cstdio>
#include <cstring>

#include "host/system/process.h"
#include "tools/packaging/package_reader.h"
#include "tools/package_tool/input_files.h"
#include "tools/package_tool/output_files.h"
#include "tools/package_tool/report.h"

namespace tool {

namespace {

// What is kept of the command's standard error: its end, where the reason
// for a failure stands.
constexpr size_t kErrorsKept = 64 << 10;

std::string Substituted(std::string command, const std::string& in, const std::string& out) {
  for (const auto& [word, value] : {std::make_pair("{in}", sys::QuotedForCommand(in)), std::make_pair("{out}", sys::QuotedForCommand(out))}) {
    for (size_t at = command.find(word); at != std::string::npos; at = command.find(word, at + value.size())) {
      command.replace(at, std::strlen(word), value);
    }
  }
  return command;
}

// The last line of `text` that holds more than white space, at most
// kLineShown bytes of it.
constexpr size_t kLineShown = 300;
std::string LastLine(const std::string& text) {
  size_t end = text.size();
  while (end > 0) {
    const size_t start = text.rfind('\n', end - 1);
    const size_t from = start == std::string::npos ? 0 : start + 1;
    const std::string line = text.substr(from, end - from);
    if (line.find_first_not_of(" \t\r") != std::string::npos) {
      // A sentence, not a flood: the end of a very long line.
      return line.size() <= kLineShown ? line : "..." + line.substr(line.size() - kLineShown);
    }
    if (start == std::string::npos) break;
    end = start;
  }
  return "";
}

// What is wrong with the signed package, or "".
std::string CheckSigned(const std::string& path, uint64_t* size) {
  MappedFile file;
  std::string error;
  if (!MapInputFile(path, &file, &error)) return error;
  *size = file.bytes.size();
  if (file.bytes.empty()) return "the command left no signed package at {out}";
  const packaging::PackageView view = packaging::ReadPackage(file.bytes);
  if (!view.problems.empty()) {
    return "the signed package has a problem: [" + view.problemCodes[0] + "] " + view.problems[0];
  }
  // The reader's signature region: a certificate-table entry pointing at a
  // certificate after the recorded end, inside the file.
  if (!view.signature) return "the signed file carries no certificate after the package";
  return "";
}

}  // namespace

int WriteSignedPackage(const std::string& output, const PackageWriter& write, const std::string& command,
                       const Common& common, uint64_t* size, std::string* error) {
  if (!CheckReplaceable(output, error)) return kExitInputOutput;
  ScratchFile unsigned_, signed_;
  if (!unsigned_.Create(output, error) || !signed_.Create(output, error)) return kExitInputOutput;
  const int written = write(unsigned_.file(), error);
  if (written != kExitFine) return written;
  // The signer reads {in} and makes {out} itself.
  unsigned_.Close();
  signed_.CloseAndRemove();
  std::string errors;
  const int status = sys::RunCommand(Substituted(command, unsigned_.path(), signed_.path()), common.quiet,
                                     kErrorsKept, &errors);
  if (common.verbose && !errors.empty()) std::fputs(errors.c_str(), stderr);
  if (status != 0) {
    const std::string last = LastLine(errors);
    *error = "--sign-command " + (status < 0 ? std::string("could not be started")
                                             : "failed (exit status " + std::to_string(status) + ")") +
             (last.empty() ? "" : ": " + Escaped(last));
    return kExitInputOutput;
  }
  const std::string problem = CheckSigned(signed_.path(), size);
  if (!problem.empty()) {
    const std::string last = LastLine(errors);
    *error = "--sign-command: " + problem + (last.empty() ? "" : " (it said: " + Escaped(last) + ")");
    return kExitInputOutput;
  }
  return signed_.Publish(output, error) ? kExitFine : kExitInputOutput;
}

}  // namespace tool
