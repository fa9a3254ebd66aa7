// End-to-end tests of the real launcher.exe under Wine.
//
// Wine runs either on this machine or, where this machine cannot run 32-bit
// code, inside a small emulated Debian machine (scripts/wine chooses). Booting
// that machine costs tens of seconds, so the harness gathers every case first,
// runs them all in one Wine job, and only then lets the tests look at the
// results:
//
//   WINE_CASE(name) { ... fill in `c` ... }   describes a case
//   const WineCase& r = Result("name");       its outcome, inside a TEST
#ifndef TESTS_E2E_WINE_HARNESS_H_
#define TESTS_E2E_WINE_HARNESS_H_

#include <map>
#include <string>
#include <vector>

#include "tests/helpers/relay_trace.h"
#include "tests/helpers/package_builder.h"

namespace e2e {

using Box = relay::Box;

struct WineCase {
  // --- set by the case -------------------------------------------------------
  std::string prefix = "win64";  // "win64": 64-bit Windows; "win32": 32-bit Windows
  std::string windowsVersion;    // Wine's name, e.g. "win7"; empty: the prefix default
  std::string exeName = "setup.exe";
  packaging::Bytes package;
  std::string arguments;  // shell words after the program, already quoted for sh
  std::string environment;  // VAR=value words for the launcher's environment, quoted for sh
  std::map<std::string, packaging::Bytes> files;  // more files in the case folder
  // Shell lines run in the case folder before the launcher. They, `arguments`
  // and `after` may use $JOB_WINDOWS (the job folder as Windows sees it, each
  // case in a folder of its name) and $TEMPDIR (the user's temporary folder).
  std::string before;
  std::string after;   // and after it
  // --- filled in from the run -----------------------------------------------
  std::string name;
  std::string folder;         // on the host
  std::string windowsFolder;  // the same folder as Windows programs see it (Z:\...)
  std::string tempFolder;     // the user's temporary folder (C:\users\NAME\Temp)
  int exitCode = -1;
  std::vector<Box> boxes;
  std::string trace;  // Wine's standard error
  std::string ReadFile(const std::string& relative) const;  // "" when missing
  bool HasFile(const std::string& relative) const;
};

using CaseMaker = void (*)(WineCase& c);
bool RegisterCase(const char* name, CaseMaker maker);

const WineCase& Result(const std::string& name);

// The pieces cases are made of.
const packaging::Bytes& LauncherImage();
// A test-only launcher build by its name: "launcher_shell_start_test" (its
// administrator check answers false), "launcher_no_search_api_test" (as if
// SetDefaultDllDirectories were missing; no administrator either),
// "launcher_exception_test" (raises the exception its last argument names).
const packaging::Bytes& TestLauncherImage(const std::string& name);
const packaging::Bytes& SampleSetup32();
const packaging::Bytes& SampleSetup64();
// A DLL that leaves "<its path>.loaded" beside itself when it is loaded.
const packaging::Bytes& PlantedDll();
// A package around the real launcher with the sample setup program.
packaging::PackageInput SamplePackageInput();
packaging::Bytes BuildOrDie(const packaging::PackageInput& input);

using relay::ShownAs;

}  // namespace e2e

#define WINE_CASE(name)                                                   \
  static void WineCase_##name(::e2e::WineCase& c);                       \
  static const bool registered_##name = ::e2e::RegisterCase(#name, WineCase_##name); \
  static void WineCase_##name([[maybe_unused]] ::e2e::WineCase& c)

#endif  // TESTS_E2E_WINE_HARNESS_H_
