// Where DLLs come from: never from the launcher's own folder, where a
// download folder may hold planted files, and mpr.dll from the system folder.
#include <gtest/gtest.h>

#include "tests/helpers/test_packages.h"

namespace {

const std::string kFolder = "Z:\\Dist";
const std::string kPackage = kFolder + "\\setup.exe";
const std::string kUncPackage = "\\\\server\\share\\Dist\\setup.exe";

// A package on a mapped drive (so mpr.dll is wanted) whose folder holds a
// planted mpr.dll and uxtheme.dll.
sim::Machine& Prepare(sim::Machine* m) {
  m->modulePath = kPackage;
  m->mappedDrives['Z'] = "\\\\server\\share";
  m->administrator = true;
  m->AddFile(kFolder + "\\mpr.dll", {'M', 'Z'});
  m->AddFile(kFolder + "\\uxtheme.dll", {'M', 'Z'});
  return *m;
}

bool SearchedOwnFolder(const sim::DllLoad& load) {
  for (const std::string& folder : load.folders) {
    if (folder == kFolder) return true;
  }
  return false;
}

std::string PackagePathGiven(const sim::Machine& m) {
  if (m.starts.size() != 1) return "(no start)";
  const std::string& line = m.starts[0].commandLine;
  const size_t open = line.find("\" \"");
  return open == std::string::npos ? line : line.substr(open + 3, line.size() - open - 4);
}

struct SystemCase {
  const char* name;
  bool hasSetDefault, hasSetDirectory, hasMpr, mprHasFunction, systemDirectoryFails;
  const char* expectedSetCall;  // log line that must precede every file operation, or ""
  const char* expectedMprLoad;  // LoadLibraryExA log line, or "" when none
  std::string expectedPackagePath;
};

// On every kind of system: the search is narrowed before the own file is
// opened, mpr.dll is loaded from the system folder or not at all, the planted
// files are never loaded, and without mpr the package path stays as it is.
TEST(DllSearchTest, NothingComesFromTheLaunchersFolder) {
  const SystemCase cases[] = {
      {"SetDefaultDllDirectories", true, true, true, true, false, "SetDefaultDllDirectories 2048",
       "LoadLibraryExA mpr.dll flags=2048", kUncPackage},
      {"only SetDllDirectoryA", false, true, true, true, false, "SetDllDirectoryA \"\"",
       "LoadLibraryExA C:\\Windows\\system32\\mpr.dll flags=8", kUncPackage},
      {"neither", false, false, true, true, false, "",
       "LoadLibraryExA C:\\Windows\\system32\\mpr.dll flags=8", kUncPackage},
      {"no mpr.dll", true, true, false, true, false, "SetDefaultDllDirectories 2048",
       "LoadLibraryExA mpr.dll flags=2048", kPackage},
      {"old system, no mpr.dll", false, true, false, true, false, "SetDllDirectoryA \"\"",
       "LoadLibraryExA C:\\Windows\\system32\\mpr.dll flags=8", kPackage},
      {"mpr.dll without the function", true, true, true, false, false, "SetDefaultDllDirectories 2048",
       "LoadLibraryExA mpr.dll flags=2048", kPackage},
      {"no system folder", false, true, true, true, true, "SetDllDirectoryA \"\"", "", kPackage},
  };
  for (const SystemCase& c : cases) {
    sim::Machine machine;
    Prepare(&machine);
    machine.hasSetDefaultDllDirectories = c.hasSetDefault;
    machine.hasSetDllDirectoryA = c.hasSetDirectory;
    machine.hasMpr = c.hasMpr;
    machine.mprHasWNetGetUniversalName = c.mprHasFunction;
    machine.systemDirectoryFails = c.systemDirectoryFails;
    testing_support::PlacePackage(&machine, testing_support::GoodPackage().bytes);
    const testing_support::Outcome outcome = testing_support::RunLauncherOn(&machine);
    SCOPED_TRACE(c.name);
    EXPECT_EQ(outcome.exitCode, 0u);
    EXPECT_TRUE(outcome.boxes.empty());
    EXPECT_EQ(PackagePathGiven(machine), c.expectedPackagePath);
    const int firstFile = machine.Find("CreateFileA");
    ASSERT_GE(firstFile, 0);
    if (*c.expectedSetCall != 0) {
      const int set = machine.Find(c.expectedSetCall);
      ASSERT_GE(set, 0);
      EXPECT_LT(set, firstFile);
    } else {
      EXPECT_LT(machine.Find("SetD"), 0);
    }
    if (*c.expectedMprLoad != 0) {
      EXPECT_GE(machine.Find(c.expectedMprLoad), 0);
    } else {
      EXPECT_LT(machine.Find("LoadLibraryExA"), 0);
    }
    for (const sim::DllLoad& load : machine.dllLoads) {
      EXPECT_NE(load.loadedFrom, kFolder) << load.dll << " by " << load.by;
      if (load.by == "LoadLibraryExA") {
        EXPECT_FALSE(SearchedOwnFolder(load)) << load.dll;
      }
    }
  }
}

// What the system loads for the message box and the shell start comes from
// the system folder: with SetDefaultDllDirectories by the narrowed search,
// without it because the launcher loaded those DLLs from there beforehand.
TEST(DllSearchTest, SystemLoadsForMessageBoxAndShellStartSkipTheLaunchersFolder) {
  struct Run {
    const char* name;
    bool damaged;
    bool administrator;
    const char* by;
  };
  for (const bool hasSetDefault : {true, false}) {
    for (const Run& r : {Run{"message box", true, true, "MessageBoxA"},
                         Run{"shell start", false, false, "ShellExecuteExA"}}) {
      sim::Machine machine;
      Prepare(&machine);
      machine.hasSetDefaultDllDirectories = hasSetDefault;
      machine.administrator = r.administrator;
      packaging::BuiltPackage package = testing_support::GoodPackage();
      if (r.damaged) package.bytes[package.header.payload32.offset + 10] ^= 0x55;
      testing_support::PlacePackage(&machine, package.bytes);
      testing_support::RunLauncherOn(&machine);
      SCOPED_TRACE(std::string(r.name) + (hasSetDefault ? "" : ", without SetDefaultDllDirectories"));
      int seen = 0;
      for (const sim::DllLoad& load : machine.dllLoads) {
        if (load.by != r.by) continue;
        ++seen;
        EXPECT_FALSE(SearchedOwnFolder(load)) << load.dll;
        EXPECT_NE(load.loadedFrom, kFolder);
      }
      EXPECT_GT(seen, 0) << "the call was made";
    }
  }
}

// Without SetDefaultDllDirectories the system searches the launcher's folder
// for what it loads inside the message box and the shell start, unless the
// launcher loaded it from the system folder first: the whole list, before
// either call (spelled out here: a name dropped from it is a planted DLL
// waiting to be loaded).
TEST(DllSearchTest, WithoutTheSearchApiEveryListedDllComesFromTheSystemFolderFirst) {
  const char* const kList[] = {
      "netapi32.dll", "uxtheme.dll",  "dwmapi.dll",  "cryptbase.dll", "profapi.dll",       "userenv.dll",
      "winmm.dll",    "propsys.dll",  "secur32.dll", "sspicli.dll",   "wtsapi32.dll",      "apphelp.dll",
      "dbghelp.dll",  "cryptsp.dll",  "rsaenh.dll",  "msimg32.dll",   "oleacc.dll",        "shfolder.dll",
      "ntmarta.dll",  "srvcli.dll",   "netutils.dll", "windowscodecs.dll", "wldp.dll",    "version.dll"};
  for (const bool damaged : {true, false}) {
    sim::Machine machine;
    Prepare(&machine);
    machine.hasSetDefaultDllDirectories = false;
    machine.administrator = damaged;  // the undamaged run takes the shell start
    packaging::BuiltPackage package = testing_support::GoodPackage();
    if (damaged) package.bytes[package.header.payload32.offset + 10] ^= 0x55;
    testing_support::PlacePackage(&machine, package.bytes);
    testing_support::RunLauncherOn(&machine);
    const int call = machine.Find(damaged ? "MessageBoxA" : "ShellExecuteExA");
    ASSERT_GE(call, 0);
    for (const char* name : kList) {
      const int load = machine.Find("LoadLibraryExA " + machine.systemDirectory + "\\" + name);
      EXPECT_GE(load, 0) << name;
      EXPECT_LT(load, call) << name;
    }
  }
}

// The simulated search itself: without the narrowing a planted DLL is taken
// (what the tests above guard against).
TEST(DllSearchTest, DefaultSearchTakesAPlantedDll) {
  sim::Machine machine;
  Prepare(&machine);
  machine.Install();
  EXPECT_NE(platform::LoadLibraryExA("mpr.dll", 0), nullptr);
  ASSERT_EQ(machine.dllLoads.size(), 1u);
  EXPECT_EQ(machine.dllLoads[0].loadedFrom, kFolder);
}

}  // namespace
