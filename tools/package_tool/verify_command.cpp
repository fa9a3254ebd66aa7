// setup-package verify: the rows as text, printed as they come, or as one
// JSON document at the end, and the command's wiring.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "host/code_pages.h"
#include "tools/package_tool/commands.h"
#include "tools/package_tool/input_files.h"
#include "tools/package_tool/report.h"
#include "tools/package_tool/verify_rows.h"
#include "tools/packaging/launcher_memory.h"

namespace tool {

namespace {

std::string MemoryWords(const Outcome& o) {
  if (o.largestBlock <= packaging::kBlockEveryProcessGets) return "";
  const std::string mib = std::to_string(o.largestBlock >> 20);
  if (o.kind == OutcomeKind::kRuntimeError) return " (needs " + mib + " MiB in one block: more than this process can have here)";
  return " (needs " + mib + " MiB in one block: where a process cannot get that much, runtime error 203 instead)";
}

std::string Words(const Outcome& o) {
  switch (o.kind) {
    case OutcomeKind::kMessage:
    case OutcomeKind::kRuntimeError: return "shows \"" + Escaped(o.message) + "\"" + MemoryWords(o);
    case OutcomeKind::kNothing: return "ends without starting anything";
    case OutcomeKind::kNotStarted:
    case OutcomeKind::kNotChecked: return o.message;
    case OutcomeKind::kRuns: break;
  }
  std::string words = "runs the " + (o.program == "other" ? std::string("(unrecognised)") : o.program) + " program";
  if (o.start == "shell") {
    words += std::string(" through the shell") + (o.verb.empty() ? "" : " (\"" + o.verb + "\")");
    if (o.noAdmin) words += " with /noadmin";
  }
  return words + MemoryWords(o);
}

std::string TextHead(const Verification& v) {
  return Escaped(v.package) + ": what the launcher does (code page " + std::to_string(v.codePage) +
         (v.Detached() ? "; detached: it neither waits for the setup program nor deletes its copy" : "") + ")\n\n";
}

std::string TextRow(const Row& r, const Outcome& o) {
  const std::string who = r.administrator ? "" : r.silent ? "user, /silent" : "user";
  char columns[64];
  std::snprintf(columns, sizeof columns, "  %-22s %-7s %-4s %-14s ", r.windows.c_str(), r.is64 ? "64-bit" : "32-bit",
                r.with32 ? "/32" : "", who.c_str());
  return columns + Words(o) + "\n";
}

std::string TextTail(const Verification& v) {
  std::string text = "\n";
  for (size_t k = 0; k < v.view.problems.size(); ++k) {
    text += "problem: [" + v.view.problemCodes[k] + "] " + Escaped(v.view.problems[k]) + "\n";
  }
  if (v.damaged > 0) text += std::to_string(v.damaged) + " rows show the damaged or truncated package message\n";
  if (v.notStarted > 0) text += std::to_string(v.notStarted) + " rows: Windows does not start the file\n";
  if (v.notChecked > 0) {
    text += std::to_string(v.notChecked) + " rows not checked: the launcher image is not the one this tool ships\n";
  }
  if (v.runtimeErrors > 0) text += std::to_string(v.runtimeErrors) + " rows end in a runtime error (memory)\n";
  if (v.runs == 0 && v.notChecked == 0) text += "the package runs on no machine\n";
  return text;
}

nlohmann::ordered_json JsonRow(const Row& r, const Outcome& o) {
  nlohmann::ordered_json row = {{"windows", r.windows},
                                {"bits", r.is64 ? 64 : 32},
                                {"with32", r.with32},
                                {"administrator", r.administrator},
                                {"silent", r.silent},
                                {"outcome", KindWord(o.kind)},
                                {"reason", packaging::CodeOf(o.reason).name}};
  if (o.kind == OutcomeKind::kRuns) {
    row["program"] = o.program;
    row["start"] = o.start;
    if (o.start == "shell") row["verb"] = o.verb, row["noAdmin"] = o.noAdmin;
  } else if (!o.message.empty()) {
    row["message"] = o.message;
  }
  if (o.largestBlock > packaging::kBlockEveryProcessGets) row["largestBlockMiB"] = o.largestBlock >> 20;
  return row;
}

// The whole document: the package, its rows and the verdict.
nlohmann::ordered_json JsonDocument(const Verification& v, nlohmann::ordered_json rows) {
  nlohmann::ordered_json j;
  j["command"] = "verify";
  j["package"] = v.package;
  j["codePage"] = v.codePage;
  j["detached"] = v.Detached();
  j["rows"] = std::move(rows);
  j["problems"] = v.view.problems;
  j["problemCodes"] = v.view.problemCodes;
  j["fine"] = v.Fine();  // the verdict: exit status 0
  j["runsSomewhere"] = v.runs > 0;
  j["notCheckedRows"] = v.notChecked;
  j["damagedRows"] = v.damaged;
  j["notStartedRows"] = v.notStarted;
  j["runtimeErrorRows"] = v.runtimeErrors;
  j["warnings"] = Warnings(v);
  return j;
}

}  // namespace

Runner AddVerify(CLI::App& app, const Common& common) {
  struct Settings {
    std::string package;
    bool json = false, strict = false;
    uint32_t codePage = host::kDefaultCodePage;
  };
  auto s = std::make_shared<Settings>();
  CLI::App* sub = app.add_subcommand(
      "verify",
      "Runs the launcher's own code on a simulated machine for every row of the Windows version\n"
      "table, on 32-bit and 64-bit Windows, with and without /32, as an administrator; and from\n"
      "Vista on without administrator rights, with and without /silent. Prints what the launcher\n"
      "does: which setup program it runs and how (directly, or through the shell with \"runas\"\n"
      "or /noadmin), or which message it shows. Each payload is decoded once.\n"
      "Exit status 1 when any row shows the damaged or truncated message, the package has\n"
      "problems, or it runs nowhere; with --strict also on a warning (rows that run only where\n"
      "a process gets more than 1 GiB in one block).");
  sub->add_option("PACKAGE", s->package, "the package file")->required();
  sub->add_flag("--json", s->json, "print the rows as JSON (with a schemaVersion)");
  sub->add_flag("--strict", s->strict, "exit status 1 on a warning too");
  sub->add_option("--codepage", s->codePage, "the machine's ANSI code page for messages")
      ->check(CLI::IsMember(host::CodePages()))
      ->default_val(host::kDefaultCodePage);
  return [s, &common]() {
    MappedFile file;
    std::string error;
    if (!MapInputFile(s->package, &file, &error)) return Fail(kExitInputOutput, error);
    Verification v;
    v.package = s->package;
    v.codePage = s->codePage;
    if (s->json) {
      nlohmann::ordered_json rows = nlohmann::ordered_json::array();
      Verify(file, common, &v, [&](const Row& r, const Outcome& o) { rows.push_back(JsonRow(r, o)); });
      PrintJson(JsonDocument(v, std::move(rows)));
    } else {
      // With -q the table appears only for a package that is not fine, which
      // is known at the end: the rows wait for it. The head needs the
      // package read, so it comes with the first row.
      bool headed = false;
      std::string waiting;
      Verify(file, common, &v, [&](const Row& r, const Outcome& o) {
        if (common.quiet) {
          waiting += TextRow(r, o);
          return;
        }
        if (!headed) std::fputs(TextHead(v).c_str(), stdout), headed = true;
        std::fputs(TextRow(r, o).c_str(), stdout);
      });
      if (common.quiet && !v.Fine()) std::fputs((TextHead(v) + waiting).c_str(), stdout);
      if (!common.quiet || !v.Fine()) std::fputs(TextTail(v).c_str(), stdout);
      for (const std::string& w : Warnings(v)) Warn(common, w);
    }
    return v.Fine() && !(s->strict && !Warnings(v).empty()) ? kExitFine : kExitProblems;
  };
}

}  // namespace tool
