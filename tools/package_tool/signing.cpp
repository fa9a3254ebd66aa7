// Signing inside build: the author's command run on a scratch file, its result checked.
#include "tools/package_tool/signing.h"

#include <cstdio>
#include <cstring>

#include "host/system/process.h"
#include "tools/packaging/package_reader.h"
#include "tools/pe/certificate_table.h"
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

// Runs the signing command on `in`, to make `out`: kExitFine, or
// kExitInputOutput with the sentence (its last line of errors).
int RunSigner(const std::string& command, const std::string& in, const std::string& out, const Common& common,
              std::string* lastLine, std::string* error) {
  std::string errors;
  const int status = sys::RunCommand(Substituted(command, in, out), common.quiet, kErrorsKept, &errors);
  if (common.verbose && !errors.empty()) std::fputs(errors.c_str(), stderr);
  *lastLine = LastLine(errors);
  if (status == 0) return kExitFine;
  *error = "--sign-command " + (status < 0 ? std::string("could not be started")
                                           : "failed (exit status " + std::to_string(status) + ")") +
           (lastLine->empty() ? "" : ": " + Escaped(*lastLine));
  return kExitInputOutput;
}

// Copies `part` into the open scratch file.
bool CopyInto(const packaging::PieceSource& part, const ScratchFile& to, std::string* error) {
  return packaging::ForEachPiece(
      part, [&](uint64_t at, const uint8_t* p, size_t n) { return sys::WriteAt(to.file(), at, p, n, error); }, error);
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
  std::string last;
  if (RunSigner(command, unsigned_.path(), signed_.path(), common, &last, error) != kExitFine) return kExitInputOutput;
  const std::string problem = CheckSigned(signed_.path(), size);
  if (!problem.empty()) {
    *error = "--sign-command: " + problem + (last.empty() ? "" : " (it said: " + Escaped(last) + ")");
    return kExitInputOutput;
  }
  return signed_.Publish(output, error) ? kExitFine : kExitInputOutput;
}

int SignPrograms(const BuildSettings& s, const std::string& command, const Common& common,
                 packaging::PackageParts* parts, std::vector<std::unique_ptr<ScratchFile>>* keep,
                 std::string* error) {
  for (const auto& [path, slot] : {std::make_pair(&s.program32, &parts->program32),
                                   std::make_pair(&s.program64, &parts->program64)}) {
    if (!*slot) continue;
    const std::string& program = **path;
    MappedFile original;
    if (!MapInputFile(program, &original, error)) return kExitInputOutput;
    if (pe::CertificateTableOf(original.bytes, original.bytes.size()).consistent) {
      Say(common, program + ": signed already, taken as it is");
      continue;
    }
    Say(common, "signing " + program);
    auto copy = std::make_unique<ScratchFile>(), signed_ = std::make_unique<ScratchFile>();
    std::string why;
    if (!copy->Create(*s.output, &why) || !signed_->Create(*s.output, &why) || !CopyInto(**slot, *copy, &why)) {
      return *error = program + ": could not be copied for signing (" + why + ")", kExitInputOutput;
    }
    copy->Close();
    signed_->CloseAndRemove();
    std::string last;
    if (RunSigner(command, copy->path(), signed_->path(), common, &last, &why) != kExitFine) {
      return *error = program + ": " + why, kExitInputOutput;
    }
    MappedFile made;
    std::string problem = !MapInputFile(signed_->path(), &made, &why) || made.bytes.empty()
                              ? "the command left no signed program at {out}"
                              : pe::SignedCopyProblem(original.bytes, made.bytes);
    if (!problem.empty()) {
      return *error = program + ": --sign-command: " + problem + (last.empty() ? "" : " (it said: " + Escaped(last) + ")"),
             kExitInputOutput;
    }
    if (!OpenPieceSource(signed_->path(), &**slot, &why)) return *error = program + ": " + why, kExitInputOutput;
    keep->push_back(std::move(copy));
    keep->push_back(std::move(signed_));
  }
  return kExitFine;
}

std::string UnsignedProgramWarning(bool signedPackage, bool program32Unsigned, bool program64Unsigned) {
  if (!signedPackage || (!program32Unsigned && !program64Unsigned)) return "";
  const std::string which = program32Unsigned && program64Unsigned ? "neither setup program is"
                            : program32Unsigned                     ? "the 32-bit setup program is not"
                                                                    : "the 64-bit setup program is not";
  return "the package is signed but " + which + " (--sign-programs signs them): Windows shows the temporary "
         "copy's publisher when it asks to elevate it";
}

}  // namespace tool
