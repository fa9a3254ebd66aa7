#include <malloc.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/code_pages.h"
#include "launcher/fatal.h"
#include "launcher/main_sequence.h"
#include "launcher/setup_launch.h"
#include "platform/sim/sim_machine.h"
#include "tools/package/package_reader.h"
#include "tools/package_tool/commands.h"
#include "tools/package_tool/files.h"
#include "tools/package_tool/inspect.h"
#include "tools/package_tool/report.h"

namespace tool {

namespace {

struct Windows {
  const char* name;
  uint32_t platformId, major, minor;
  uint16_t servicePack;
  bool has64Bit;  // whether a 64-bit edition exists
};

const Windows kWindows[] = {
    {"Windows 95", 1, 4, 0, 0, false},
    {"Windows 98", 1, 4, 10, 0, false},
    {"Windows ME", 1, 4, 90, 0, false},
    {"Windows NT 4", 2, 4, 0, 6, false},
    {"Windows 2000 SP3", 2, 5, 0, 3, false},
    {"Windows 2000 SP4", 2, 5, 0, 4, false},
    {"Windows XP", 2, 5, 1, 3, false},
    {"Windows XP x64 (5.2)", 2, 5, 2, 2, true},
    {"Windows Vista", 2, 6, 0, 2, true},
    {"Windows 7", 2, 6, 1, 1, true},
    {"Windows 8", 2, 6, 2, 0, true},
    {"Windows 8.1", 2, 6, 3, 0, true},
    {"Windows 6.4", 2, 6, 4, 0, true},
    {"Windows 10 and 11", 2, 10, 0, 0, true},
    {"later (11.0)", 2, 11, 0, 0, true},
};

struct Row {
  const Windows* windows;
  bool is64, with32, administrator, silent;
};

// Every Windows row, 32- and 64-bit, with and without /32, as an
// administrator; then, from Vista on (where the shell start applies), 64-bit
// Windows without administrator rights, with and without /silent.
std::vector<Row> Rows() {
  std::vector<Row> rows;
  for (const Windows& w : kWindows) {
    for (int is64 = 0; is64 <= (w.has64Bit ? 1 : 0); ++is64) {
      for (int with32 = 0; with32 <= 1; ++with32) rows.push_back({&w, is64 != 0, with32 != 0, true, false});
    }
  }
  for (const Windows& w : kWindows) {
    if (w.major < 6) continue;
    for (int silent = 0; silent <= 1; ++silent) rows.push_back({&w, true, false, false, silent != 0});
  }
  return rows;
}

// The payloads decoded so far in this verification, each decoded once.
struct Cached {
  launcher::PayloadEntry entry;
  packaging::Bytes program;
};
std::vector<Cached> decodeCache;

struct BeyondLimit {};

void DecodeOnce(platform::Handle ownFile, const launcher::PayloadEntry& entry, const launcher::PackageHeader& header,
                support::TStream* compressed, support::TStream* decompressed) {
  for (const Cached& c : decodeCache) {
    if (c.entry.offset != entry.offset || c.entry.compressedSize != entry.compressedSize ||
        c.entry.uncompressedSize != entry.uncompressedSize) {
      continue;
    }
    const int32_t size = static_cast<int32_t>(c.program.size());
    decompressed->SetSize(size);
    decompressed->SetSize(size);
    if (size > 0) std::memcpy(decompressed->Memory, c.program.data(), c.program.size());
    decompressed->Seek(0, 2);
    return;
  }
  if (packaging::BeyondDecodeLimit(entry)) throw BeyondLimit{};
  launcher::DecodePayload(ownFile, entry, header, compressed, decompressed);  // a refusal ends the run here
  decodeCache.push_back({entry, packaging::Bytes(decompressed->Memory, decompressed->Memory + decompressed->Size)});
}

struct Outcome {
  std::string kind;  // "runs", "message", "nothing", "not checked"
  std::string program;  // "32-bit", "64-bit", "other"
  std::string start;    // "direct" or "shell"
  std::string verb;     // shell start: "open", "runas" or "" (none)
  bool noAdmin = false;
  std::string message;  // UTF-8
  uint32_t exitCode = 0;
  std::size_t largestBlock = 0;  // the most the run asked for at once
};

// Runs that ask for this much at once depend on the machine: a 32-bit
// process's free address space comes in ranges of less than 2 GiB, and what
// is free in them differs from machine to machine.
constexpr std::size_t kLargeBlock = std::size_t(1) << 30;

std::string MessageToUtf8(const std::string& ansi, uint32_t codePage) {
  return host::Utf16ToValidUtf8(host::AnsiToWide(codePage, ansi));
}

// "32-bit" or "64-bit": the slot whose decoded program `bytes` is.
std::string WhichProgram(const packaging::Bytes& bytes, const launcher::PackageHeader& header) {
  for (const Cached& c : decodeCache) {
    if (c.program != bytes) continue;
    if (c.entry.offset == header.payload32.offset) return "32-bit";
    if (c.entry.offset == header.payload64.offset) return "64-bit";
  }
  return "other";
}

Outcome RunRow(const std::shared_ptr<std::vector<uint8_t>>& file, const launcher::PackageHeader& header,
               const Row& row, uint32_t codePage) {
  Outcome o;
  sim::Machine machine;  // a 32-bit process's address space, as the launcher gets it
  machine.codePage = codePage;
  machine.modulePath = "C:\\Setup\\setup.exe";
  machine.commandLine = std::string("\"C:\\Setup\\setup.exe\"") + (row.with32 ? " /32" : "") +
                        (row.silent ? " /silent" : "");
  machine.AddSharedFile(machine.modulePath, file);
  const Windows& w = *row.windows;
  machine.version.dwPlatformId = w.platformId;
  machine.version.dwMajorVersion = w.major;
  machine.version.dwMinorVersion = w.minor;
  machine.version.wServicePackMajor = w.servicePack;
  machine.wow64 = row.is64;
  machine.hasIsWow64Process = !(w.major == 4 || (w.major == 5 && w.minor == 0));
  machine.administrator = row.administrator;
  machine.onProcessStart = [&](const sim::ProcessStart& start) {
    const std::string copy =
        start.viaShell ? start.file : start.commandLine.substr(1, start.commandLine.find('"', 1) - 1);
    o.program = WhichProgram(machine.FileBytes(copy), header);
    o.start = start.viaShell ? "shell" : "direct";
    o.verb = start.verb;
    o.noAdmin = start.viaShell && start.parameters.size() >= 9 &&
                start.parameters.compare(start.parameters.size() - 9, 9, " /noadmin") == 0;
    o.kind = "runs";
  };
  if (!machine.CanStart(machine.modulePath)) {
    o.kind = "not started";
    o.message = "Windows does not start the file: its launcher image is cut or damaged";
    return o;
  }
  try {
    o.exitCode = machine.Run([] { launcher::LauncherMainWith(DecodeOnce); });
  } catch (const BeyondLimit&) {
    o.kind = "not checked";
    o.message = "the payload decodes to more than " + std::to_string(packaging::kDecodeLimit >> 20) +
                " MiB, beyond what this tool decodes";
    return o;
  }
  o.largestBlock = machine.largestRequest;
  if (!machine.messageBoxes.empty()) {
    o.kind = o.exitCode == 203 ? "runtime error" : "message";
    o.message = MessageToUtf8(machine.messageBoxes[0].text, codePage);
    return o;
  }
  if (o.kind != "runs") o.kind = "nothing";
  return o;
}

std::string MemoryWords(const Outcome& o) {
  if (o.largestBlock <= kLargeBlock) return "";
  const std::string mib = std::to_string(o.largestBlock >> 20);
  if (o.kind == "runtime error") return " (needs " + mib + " MiB in one block: more than this process can have here)";
  return " (needs " + mib + " MiB in one block: where a process cannot get that much, runtime error 203 instead)";
}

std::string Words(const Outcome& o) {
  if (o.kind == "message" || o.kind == "runtime error") return "shows \"" + Escaped(o.message) + "\"" + MemoryWords(o);
  if (o.kind == "nothing") return "ends without starting anything";
  if (o.kind == "not checked") return "not checked: " + o.message;
  if (o.kind == "not started") return o.message;
  std::string words = "runs the " + (o.program == "other" ? std::string("(unrecognised)") : o.program) + " program";
  if (o.start == "shell") {
    words += std::string(" through the shell") + (o.verb.empty() ? "" : " (\"" + o.verb + "\")");
    if (o.noAdmin) words += " with /noadmin";
  }
  return words + MemoryWords(o);
}

}  // namespace

Runner AddVerify(CLI::App& app, const Common& common) {
  struct Settings {
    std::string package;
    bool json = false;
    uint32_t codePage = 1252;
  };
  auto s = std::make_shared<Settings>();
  CLI::App* sub = app.add_subcommand(
      "verify",
      "Runs the launcher's own code on a simulated machine for every row of the Windows version\n"
      "table, on 32-bit and 64-bit Windows, with and without /32, as an administrator; and from\n"
      "Vista on without administrator rights, with and without /silent. Prints what the launcher\n"
      "does: which setup program it runs and how (directly, or through the shell with \"runas\"\n"
      "or /noadmin), or which message it shows. Each payload is decoded once (up to 1 GiB).\n"
      "Exit status 1 when any row shows the damaged or truncated message, the package has\n"
      "problems, or it runs nowhere.");
  sub->add_option("PACKAGE", s->package, "the package file")->required();
  sub->add_flag("--json", s->json, "print the rows as JSON (with a schemaVersion)");
  sub->add_option("--codepage", s->codePage, "the machine's ANSI code page for messages")
      ->check(CLI::IsMember({1252, 932}))
      ->default_val(1252);
  return [s, &common]() {
    packaging::Bytes file;
    std::string error;
    if (!ReadInputFile(s->package, &file, &error)) return Fail(kExitInputOutput, error);
    packaging::PackageView view = packaging::ReadPackage(file);
    // The check decodes each payload: its programs seed the rows' cache.
    packaging::Bytes program32, program64;
    packaging::CheckPrograms(file, &view, &program32, &program64);
    decodeCache.clear();
    if (!program32.empty()) decodeCache.push_back({view.header.payload32, std::move(program32)});
    if (!program64.empty()) decodeCache.push_back({view.header.payload64, std::move(program64)});
    // Every row holds a decoded program and its copy for a moment: keep the
    // freed blocks for the next row instead of returning them to the system
    // and faulting fresh pages in again.
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, INT32_MAX);
    const auto shared = std::make_shared<std::vector<uint8_t>>(std::move(file));
    const std::vector<Row> rows = Rows();
    std::vector<Outcome> outcomes;
    for (const Row& row : rows) {
      if (common.verbose) std::fprintf(stderr, "verifying on %s\n", row.windows->name);
      outcomes.push_back(RunRow(shared, view.header, row, s->codePage));
    }
    int runs = 0, damaged = 0, runtimeErrors = 0;
    for (const Outcome& o : outcomes) {
      runs += o.kind == "runs";
      runtimeErrors += o.kind == "runtime error";
      damaged += o.kind == "not started";
      damaged += o.kind == "message" && (o.message == MessageToUtf8(launcher::kDamagedPackageMessage, 1252) ||
                                         o.message == MessageToUtf8(launcher::kTruncatedPackageMessage, 1252));
    }
    const bool fine = runs > 0 && damaged == 0 && runtimeErrors == 0 && view.problems.empty();
    if (s->json) {
      nlohmann::ordered_json j;
      j["command"] = "verify";
      j["package"] = s->package;
      j["codePage"] = s->codePage;
      j["detached"] = view.hasPackage && view.locator.detachedSize != 0;
      j["rows"] = nlohmann::ordered_json::array();
      for (size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        const Outcome& o = outcomes[i];
        nlohmann::ordered_json row = {{"windows", r.windows->name},
                                      {"bits", r.is64 ? 64 : 32},
                                      {"with32", r.with32},
                                      {"administrator", r.administrator},
                                      {"silent", r.silent},
                                      {"outcome", o.kind}};
        if (o.kind == "runs") {
          row["program"] = o.program;
          row["start"] = o.start;
          if (o.start == "shell") row["verb"] = o.verb, row["noAdmin"] = o.noAdmin;
        } else if (!o.message.empty()) {
          row["message"] = o.message;
        }
        if (o.largestBlock > kLargeBlock) row["largestBlockMiB"] = o.largestBlock >> 20;
        j["rows"].push_back(row);
      }
      j["problems"] = view.problems;
      j["runsSomewhere"] = runs > 0;
      j["damagedRows"] = damaged;
      j["runtimeErrorRows"] = runtimeErrors;
      PrintJson(j);
    } else if (!common.quiet || !fine) {
      std::printf("%s: what the launcher does (code page %u%s)\n\n", s->package.c_str(), s->codePage,
                  view.hasPackage && view.locator.detachedSize != 0
                      ? "; detached: it neither waits for the setup program nor deletes its copy"
                      : "");
      for (size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        const std::string who = r.administrator ? "" : r.silent ? "user, /silent" : "user";
        std::printf("  %-22s %-7s %-4s %-14s %s\n", r.windows->name, r.is64 ? "64-bit" : "32-bit",
                    r.with32 ? "/32" : "", who.c_str(), Words(outcomes[i]).c_str());
      }
      std::printf("\n");
      for (const std::string& p : view.problems) std::printf("problem: %s\n", Escaped(p).c_str());
      if (damaged > 0) std::printf("%d rows show the damaged or truncated package message\n", damaged);
      if (runtimeErrors > 0) std::printf("%d rows end in a runtime error (memory)\n", runtimeErrors);
      if (runs == 0) std::printf("the package runs on no machine\n");
    }
    return fine ? kExitFine : kExitProblems;
  };
}

}  // namespace tool
