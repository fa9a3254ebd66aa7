// The rows verify runs the launcher's own code on, and what it does on each:
// the Windows table, one simulated machine per row, what decoding the
// package once gives replayed on every row, and the verdict.
#ifndef TOOLS_PACKAGE_TOOL_VERIFY_ROWS_H_
#define TOOLS_PACKAGE_TOOL_VERIFY_ROWS_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/code_pages.h"
#include "tools/packaging/codes.h"
#include "tools/packaging/package_reader.h"
#include "tools/packaging/windows_releases.h"
#include "tools/pe/certificate_table.h"
#include "tools/package_tool/commands.h"
#include "tools/package_tool/input_files.h"
#include "tools/package_tool/launcher_identity.h"

namespace tool {

struct Row {
  const packaging::WindowsRelease* release;
  std::string windows;  // the release's name
  bool is64, with32, administrator, silent;
};

enum class OutcomeKind { kRuns, kMessage, kRuntimeError, kNothing, kNotStarted, kNotChecked };

// The words JSON gives each kind.
const char* KindWord(OutcomeKind kind);

struct Outcome {
  OutcomeKind kind = OutcomeKind::kNothing;
  std::string program;  // runs: "32-bit", "64-bit", "other"
  std::string start;    // runs: "direct" or "shell"
  std::string verb;     // shell start: "open", "runas" or "" (none)
  bool noAdmin = false;
  std::string message;  // UTF-8
  uint32_t exitCode = 0;
  std::size_t largestBlock = 0;  // the most the run needed at once
  packaging::RowReason reason = packaging::RowReason::kNothingStarted;
};

// One verification: the package, its rows and what the launcher does on each.
struct Verification {
  std::string package;
  uint32_t codePage = host::kDefaultCodePage;
  packaging::PackageView view;  // with "runtime-error-rows" when rows end so
  LauncherIdentity identity = LauncherIdentity::kNoImage;
  int runs = 0, damaged = 0, notStarted = 0, runtimeErrors = 0, notChecked = 0;
  int hedged = 0;  // rows that run, but only where a process gets a block of over 1 GiB
  bool Fine() const {
    return runs > 0 && damaged == 0 && notStarted == 0 && runtimeErrors == 0 && view.problems.empty();
  }
  bool Detached() const { return view.hasPackage && view.locator.detachedSize != 0; }
  bool startable = false;  // Windows starts the file as a 32-bit program
  // The certificate table of each decoded program (none where there is no
  // program, or it did not decode).
  pe::CertificateTable certificate32, certificate64;
  bool decoded32 = false, decoded64 = false;
  // Whether there are rows: not for a program Windows starts that has
  // neither a package nor this tool's launcher (what it does is its own).
  bool HasRows() const { return view.hasPackage || identity == LauncherIdentity::kShipped || !startable; }
};

// Runs every row and hands each outcome to `each` as soon as it is known:
// no row's words are held longer than printing them takes (a message of
// 65,535 characters shown on 60 rows is megabytes). The launcher is compared
// with `reference` (LoadReference).
using RowPrinter = std::function<void(const Row&, const Outcome&)>;
void Verify(const MappedFile& file, const Common& common, const std::optional<packaging::Bytes>& reference,
            Verification* verification, const RowPrinter& each);

// What the author may not mean: rows that run only where memory allows, a
// launcher that was not compared.
std::vector<std::string> Warnings(const Verification& verification);

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_VERIFY_ROWS_H_
