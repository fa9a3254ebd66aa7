// setup-package verify: the rows as text, printed as they come, or as one
// JSON document at the end, and the command's wiring.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "host/code_pages.h"
#include "tools/package_tool/commands.h"
#include "tools/package_tool/input_files.h"
#include "tools/package_tool/package_check.h"
#include "tools/package_tool/package_words.h"
#include "tools/package_tool/report.h"
#include "tools/package_tool/verify_rows.h"
#include "tools/packaging/launcher_memory.h"

namespace tool {

namespace {

std::string MemoryWords(const Outcome& outcome) {
  if (outcome.largestBlock <= packaging::kBlockEveryProcessGets) return "";
  const std::string mib = std::to_string(outcome.largestBlock >> 20);
  if (outcome.kind == OutcomeKind::kRuntimeError) return " (needs " + mib + " MiB in one block: more than this process can have here)";
  return " (needs " + mib + " MiB in one block: where a process cannot get that much, runtime error 203 instead)";
}

std::string Words(const Outcome& outcome) {
  switch (outcome.kind) {
    case OutcomeKind::kMessage:
    case OutcomeKind::kRuntimeError: return "shows \"" + Escaped(outcome.message) + "\"" + MemoryWords(outcome);
    case OutcomeKind::kNothing: return "ends without starting anything";
    case OutcomeKind::kNotStarted:
    case OutcomeKind::kNotChecked: return outcome.message;
    case OutcomeKind::kRuns: break;
  }
  std::string words = "runs the " + (outcome.program == "other" ? std::string("(unrecognised)") : outcome.program) + " program";
  if (outcome.start == "shell") {
    words += std::string(" through the shell") + (outcome.verb.empty() ? "" : " (\"" + outcome.verb + "\")");
    if (outcome.noAdmin) words += " with /noadmin";
  }
  return words + MemoryWords(outcome);
}

std::string TextHead(const Verification& verification) {
  const std::string lead = verification.view.hasPackage ? "" : NoPackageSentence(verification.package, verification.view) + "\n\n";
  return lead + Escaped(verification.package) + ": what the launcher does (code page " + std::to_string(verification.codePage) +
         (verification.Detached() ? "; detached: it neither waits for the setup program nor deletes its copy" : "") + ")\n\n";
}

std::string TextRow(const Row& r, const Outcome& outcome) {
  const std::string who = r.administrator ? "" : r.silent ? "user, /silent" : "user";
  char columns[64];
  std::snprintf(columns, sizeof columns, "  %-22s %-7s %-4s %-14s ", r.windows.c_str(), r.is64 ? "64-bit" : "32-bit",
                r.with32 ? "/32" : "", who.c_str());
  return columns + Words(outcome) + "\n";
}

std::string TextTail(const Verification& verification) {
  if (!verification.HasRows()) return NoPackageSentence(verification.package, verification.view) + "\n";
  std::string text = "\n";
  for (size_t k = 0; k < verification.view.problems.size(); ++k) {
    text += "problem: [" + verification.view.problemCodes[k] + "] " + Escaped(verification.view.problems[k]) + "\n";
  }
  if (verification.damaged > 0) text += std::to_string(verification.damaged) + " rows show the damaged or truncated package message\n";
  if (verification.notStarted > 0) text += std::to_string(verification.notStarted) + " rows: Windows does not start the file\n";
  if (verification.notChecked > 0) {
    text += std::to_string(verification.notChecked) + " rows not checked: the launcher image is not the one this tool ships\n";
  }
  if (verification.runs == 0 && verification.notChecked == 0) text += "the package runs on no machine\n";
  return text;
}

nlohmann::ordered_json JsonRow(const Row& r, const Outcome& outcome) {
  nlohmann::ordered_json row = {{"windows", r.windows},
                                {"bits", r.is64 ? 64 : 32},
                                {"with32", r.with32},
                                {"administrator", r.administrator},
                                {"silent", r.silent},
                                {"outcome", KindWord(outcome.kind)},
                                {"reason", packaging::CodeOf(outcome.reason).name}};
  if (outcome.kind == OutcomeKind::kRuns) {
    row["program"] = outcome.program;
    row["start"] = outcome.start;
    if (outcome.start == "shell") row["verb"] = outcome.verb, row["noAdmin"] = outcome.noAdmin;
  } else if (!outcome.message.empty()) {
    row["message"] = outcome.message;
  }
  if (outcome.largestBlock > packaging::kBlockEveryProcessGets) row["largestBlockMiB"] = outcome.largestBlock >> 20;
  if (outcome.reason == packaging::RowReason::kAddressSpaceDecides) row["otherwise"] = KindWord(OutcomeKind::kRuntimeError);
  return row;
}

// The whole document: the package, its rows and the verdict.
nlohmann::ordered_json JsonDocument(const Verification& verification, nlohmann::ordered_json rows) {
  nlohmann::ordered_json j;
  j["command"] = "verify";
  j["package"] = verification.package;
  j["codePage"] = verification.codePage;
  j["detached"] = verification.Detached();
  j["rows"] = std::move(rows);
  j["problems"] = verification.view.problems;
  j["problemCodes"] = verification.view.problemCodes;
  j["fine"] = verification.Fine();  // the verdict: exit status 0
  j["runsSomewhere"] = verification.runs > 0;
  j["notCheckedRows"] = verification.notChecked;
  j["damagedRows"] = verification.damaged;
  j["notStartedRows"] = verification.notStarted;
  j["runtimeErrorRows"] = verification.runtimeErrors;
  j["warnings"] = Warnings(verification);
  return j;
}

}  // namespace

Runner AddVerify(CLI::App& app, const Common& common) {
  struct Settings {
    std::string package;
    std::optional<std::string> reference;
    bool json = false, strict = false;
    uint32_t codePage = host::kDefaultCodePage;
  };
  auto settings = std::make_shared<Settings>();
  CLI::App* sub = app.add_subcommand(
      "verify",
      "Runs the launcher's own code on a simulated machine for every row of the Windows version\n"
      "table, on 32-bit and 64-bit Windows, with and without /32, as an administrator; and from\n"
      "Vista on without administrator rights, with and without /silent. Prints what the launcher\n"
      "does: which setup program it runs and how (directly, or through the shell with \"runas\"\n"
      "or /noadmin), or which message it shows. Each payload is decoded once.\n"
      "Exit status 1 when any row shows the damaged or truncated message, the package has\n"
      "problems, or it runs nowhere; with --strict also on a warning (rows that run only where\n"
      "a process gets more than 1 GiB in one block; a launcher that could not be compared).\n"
      "A file that carries no package has no rows: it is named as such (exit status 1).");
  sub->add_option("PACKAGE", settings->package, "the package file")->required();
  sub->add_flag("--json", settings->json, "print the rows as JSON (with a schemaVersion)");
  sub->add_flag("--strict", settings->strict, "exit status 1 on a warning too");
  AddReferenceOption(sub, &settings->reference);
  sub->add_option("--codepage", settings->codePage, "the machine's ANSI code page for messages")
      ->check(CLI::IsMember(host::CodePages()))
      ->default_val(host::kDefaultCodePage);
  return [settings, &common]() {
    MappedFile file;
    std::string error;
    if (!MapInputFile(settings->package, &file, &error)) return Fail(kExitInputOutput, error);
    std::optional<packaging::Bytes> reference;
    if (!LoadReference(settings->reference, &reference, &error)) return Fail(kExitInputOutput, error);
    Verification verification;
    verification.package = settings->package;
    verification.codePage = settings->codePage;
    if (settings->json) {
      nlohmann::ordered_json rows = nlohmann::ordered_json::array();
      Verify(file, common, reference, &verification, [&](const Row& r, const Outcome& outcome) { rows.push_back(JsonRow(r, outcome)); });
      PrintJson(JsonDocument(verification, std::move(rows)));
    } else {
      // With -q the table appears only for a package that is not fine, which
      // is known at the end: the rows wait for it. The head needs the
      // package read, so it comes with the first row.
      bool headed = false;
      std::string waiting;
      Verify(file, common, reference, &verification, [&](const Row& r, const Outcome& outcome) {
        if (common.quiet) {
          waiting += TextRow(r, outcome);
          return;
        }
        if (!headed) std::fputs(TextHead(verification).c_str(), stdout), headed = true;
        std::fputs(TextRow(r, outcome).c_str(), stdout);
      });
      if (common.quiet && !verification.Fine() && verification.HasRows()) std::fputs((TextHead(verification) + waiting).c_str(), stdout);
      if (!common.quiet || !verification.Fine()) std::fputs(TextTail(verification).c_str(), stdout);
      for (const std::string& w : Warnings(verification)) Warn(common, w);
    }
    return verification.Fine() && !(settings->strict && !Warnings(verification).empty()) ? kExitFine : kExitProblems;
  };
}

}  // namespace tool
