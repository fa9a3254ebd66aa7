// verify's rows, each a run of the launcher's own code on a simulated machine.
#include "tools/package_tool/verify_rows.h"

#include <cstdio>
#include <string>
#include <vector>

#include "host/code_pages.h"
#include "host/pe_image.h"
#include "launcher/fatal.h"
#include "launcher/main_sequence.h"
#include "launcher/setup_launch.h"
#include "platform/sim/sim_machine.h"
#include "tools/packaging/codes.h"
#include "tools/packaging/launcher_memory.h"
#include "tools/packaging/package_reader.h"
#include "tools/packaging/program_check.h"
#include "tools/packaging/program_replay.h"
#include "tools/packaging/windows_releases.h"
#include "tools/package_tool/commands.h"
#include "tools/package_tool/input_files.h"
#include "tools/package_tool/package_check.h"
#include "tools/package_tool/package_words.h"
#include "tools/package_tool/launcher_identity.h"
#include "tools/package_tool/report.h"
#include "tools/package_tool/signing.h"

namespace tool {

namespace {



// Every Windows row, 32- and 64-bit, with and without /32, as an
// administrator; then, from Vista on (where the shell start applies), 64-bit
// Windows without administrator rights, with and without /silent.
std::vector<Row> Rows() {
  std::vector<Row> rows;
  for (const packaging::WindowsRelease& w : packaging::kWindowsReleases) {
    for (int is64 = 0; is64 <= (w.has64Bit ? 1 : 0); ++is64) {
      for (int with32 = 0; with32 <= 1; ++with32) {
        rows.push_back({&w, packaging::ReleaseName(w), is64 != 0, with32 != 0, true, false});
      }
    }
  }
  for (const packaging::WindowsRelease& w : packaging::kWindowsReleases) {
    if (!launcher::IsVistaOrLater(w.major)) continue;
    for (int silent = 0; silent <= 1; ++silent) {
      rows.push_back({&w, packaging::ReleaseName(w), true, false, false, silent != 0});
    }
  }
  return rows;
}

std::string MessageToUtf8(const std::string& ansi, uint32_t codePage) {
  return host::Utf16ToValidUtf8(host::AnsiToWide(codePage, ansi));
}

// Why the row ends as it does: the kind, and for a message which one (the
// launcher's own texts, else the package's architecture or version message).
packaging::RowReason Reason(const Outcome& outcome, const std::string& shown, const std::string& architectureMessage) {
  using packaging::RowReason;
  switch (outcome.kind) {
    case OutcomeKind::kRuns:
      return outcome.largestBlock > packaging::kBlockEveryProcessGets ? RowReason::kAddressSpaceDecides : RowReason::kRuns;
    case OutcomeKind::kRuntimeError: return RowReason::kOutOfMemory;
    case OutcomeKind::kNothing: return RowReason::kNothingStarted;
    case OutcomeKind::kNotStarted: return RowReason::kFileNotStarted;
    case OutcomeKind::kNotChecked: return RowReason::kNotChecked;
    case OutcomeKind::kMessage: break;
  }
  if (shown == launcher::kDamagedPackageMessage) return RowReason::kDamagedPackage;
  if (shown == launcher::kTruncatedPackageMessage) return RowReason::kTruncatedPackage;
  if (shown == launcher::kTemporaryCopyMessage) return RowReason::kTemporaryCopyFailed;
  if (shown == launcher::kNotExecutedMessage) return RowReason::kNotExecuted;
  return shown == architectureMessage ? RowReason::kArchitectureRefused : RowReason::kVersionRefused;
}

Outcome RunRow(const MappedFile& file, const Row& row, uint32_t codePage, const std::string& architectureMessage,
               bool launcherModified, packaging::RunCache* cache) {
  Outcome outcome;
  sim::Machine machine;  // a 32-bit process's address space, as the launcher gets it
  machine.codePage = codePage;
  machine.modulePath = "C:\\Setup\\setup.exe";
  machine.commandLine = std::string("\"C:\\Setup\\setup.exe\"") + (row.with32 ? " /32" : "") +
                        (row.silent ? " /silent" : "");
  machine.AddHeldFile(machine.modulePath, file.bytes, file.owner);
  packaging::PutOnRelease(*row.release, row.is64, &machine);
  machine.administrator = row.administrator;
  machine.onProcessStart = [&](const sim::ProcessStart& start) {
    const std::string copy =
        start.viaShell ? start.file : start.commandLine.substr(1, start.commandLine.find('"', 1) - 1);
    outcome.program = cache->WhichProgram(machine.FileStart(copy));
    outcome.start = start.viaShell ? "shell" : "direct";
    outcome.verb = start.verb;
    outcome.noAdmin = start.viaShell && start.parameters.size() >= 9 &&
                start.parameters.compare(start.parameters.size() - 9, 9, " /noadmin") == 0;
    outcome.kind = OutcomeKind::kRuns;
  };
  if (!machine.CanStart(machine.modulePath)) {
    outcome.kind = OutcomeKind::kNotStarted;
    outcome.message = "Windows does not start the file: its launcher image is cut or damaged";
    return outcome;
  }
  // The tool's launcher code says nothing of another launcher's.
  if (launcherModified) {
    outcome.kind = OutcomeKind::kNotChecked;
    outcome.message = "not checked: the launcher image is not the one this tool ships";
    outcome.reason = packaging::RowReason::kNotChecked;
    return outcome;
  }
  outcome.exitCode = machine.Run([cache] { launcher::LauncherMainWith(cache->Steps()); });
  // What the run needed in one block: where memory ended it, the request
  // refused last (the one it could not do without); otherwise the largest
  // block as it settled, not the guesses the machine refused or the run
  // trimmed.
  const bool outOfMemory = outcome.exitCode == launcher::kRuntimeErrorOutOfMemory && !machine.memoryRequests.empty();
  outcome.largestBlock = outOfMemory ? machine.memoryRequests.back() : machine.largestSettled;
  if (!machine.messageBoxes.empty()) {
    outcome.kind = outcome.exitCode == launcher::kRuntimeErrorOutOfMemory ? OutcomeKind::kRuntimeError : OutcomeKind::kMessage;
    outcome.message = MessageToUtf8(machine.messageBoxes[0].text, codePage);
  }
  outcome.reason = Reason(outcome, machine.messageBoxes.empty() ? "" : machine.messageBoxes[0].text, architectureMessage);
  return outcome;
}

}  // namespace

// The words JSON gives each kind.
const char* KindWord(OutcomeKind kind) {
  switch (kind) {
    case OutcomeKind::kRuns: return "runs";
    case OutcomeKind::kMessage: return "message";
    case OutcomeKind::kRuntimeError: return "runtime error";
    case OutcomeKind::kNothing: return "nothing";
    case OutcomeKind::kNotStarted: return "not started";
    case OutcomeKind::kNotChecked: return "not checked";
  }
  return "?";
}

void Verify(const MappedFile& file, const Common& common, const std::optional<packaging::Bytes>& reference,
            Verification* verification, const RowPrinter& each) {
  CheckedPackage checked = CheckPackage(file.bytes, common, reference);
  verification->view = std::move(checked.view);
  const LauncherIdentity identity = verification->identity = checked.identity;
  std::string why;
  verification->startable = pe::CheckProgram(file.bytes, pe::kMachineI386, &why);
  if (!verification->HasRows()) return;
  for (const auto& [slot, entry, table, decoded] :
       {std::make_tuple(&checked.slot32, &verification->view.header.payload32, &verification->certificate32, &verification->decoded32),
        std::make_tuple(&checked.slot64, &verification->view.header.payload64, &verification->certificate64, &verification->decoded64)}) {
    *decoded = slot->decoded.ok;
    if (*decoded) *table = pe::CertificateTableOf(slot->decoded.head.View(), entry->uncompressedSize);
  }
  // The check decoded each payload: what that gave seeds the rows' cache.
  packaging::RunCache cache;
  cache.Add(verification->view.header.payload32, std::move(checked.slot32.decoded), "32-bit");
  cache.Add(verification->view.header.payload64, std::move(checked.slot64.decoded), "64-bit");
  const std::string damagedText = MessageToUtf8(launcher::kDamagedPackageMessage, host::kDefaultCodePage);
  const std::string truncatedText = MessageToUtf8(launcher::kTruncatedPackageMessage, host::kDefaultCodePage);
  const std::string architectureMessage = host::WideToAnsi(verification->codePage, verification->view.architectureMessage);
  for (const Row& row : Rows()) {
    if (common.verbose) std::fprintf(stderr, "verifying on %s\n", row.windows.c_str());
    const Outcome outcome =
        RunRow(file, row, verification->codePage, architectureMessage, identity == LauncherIdentity::kModified, &cache);
    verification->runs += outcome.kind == OutcomeKind::kRuns;
    verification->runtimeErrors += outcome.kind == OutcomeKind::kRuntimeError;
    verification->notStarted += outcome.kind == OutcomeKind::kNotStarted;
    verification->notChecked += outcome.kind == OutcomeKind::kNotChecked;
    verification->hedged += outcome.kind == OutcomeKind::kRuns && outcome.largestBlock > packaging::kBlockEveryProcessGets;
    verification->damaged += outcome.kind == OutcomeKind::kMessage && (outcome.message == damagedText || outcome.message == truncatedText);
    each(row, outcome);
  }
  // A runtime error is never what a package means, as a refusal may be.
  if (verification->runtimeErrors > 0) {
    packaging::AddProblem(&verification->view, packaging::ProblemCode::kRuntimeErrorRows,
                          std::to_string(verification->runtimeErrors) + " rows end in runtime error 203 (out of " +
                              "memory) instead of starting a setup program (verify shows them)");
  }
}

std::vector<std::string> Warnings(const Verification& verification) {
  std::vector<std::string> warnings;
  if (verification.hedged > 0) {
    warnings.push_back(std::to_string(verification.hedged) + " rows run only where the process gets a block of over 1 GiB: " +
                       "elsewhere the launcher ends in runtime error 203 (out of memory)");
  }
  if (std::optional<std::string> w = LauncherWarning(verification.identity)) warnings.push_back(*w);
  const std::string unsignedInside = UnsignedProgramWarning(
      verification.view.signature.has_value(), verification.decoded32 && !verification.certificate32.consistent,
      verification.decoded64 && !verification.certificate64.consistent);
  if (!unsignedInside.empty()) warnings.push_back(unsignedInside);
  return warnings;
}

}  // namespace tool
