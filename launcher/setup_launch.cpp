// Starting the setup program directly or through the shell, waiting, deleting the copy.
#include "launcher/setup_launch.h"

#include "launcher/arguments.h"
#include "launcher/dll_search.h"
#include "launcher/fatal.h"
#include "support/memory.h"
#include "launcher/temp_copy.h"
#include "platform/platform.h"

namespace launcher {

namespace {

// Looked up once and kept for the rest of the process.
platform::CheckTokenMembershipFunction checkTokenMembership = nullptr;

bool HasBlank(const Text& text) { return text.Find(" ", 1) >= 0; }

platform::Handle StartDirectly(const Text& copyPath, const Text& argumentString) {
  platform::StartupInfo startup{};
  startup.cb = sizeof(platform::StartupInfo);
  platform::ProcessInformation information{};
  Text commandLine("\"");
  commandLine.Append(copyPath);
  commandLine.Append("\" ");
  commandLine.Append(argumentString);
  const Text folder = FolderPart(Argument(0).Chars());
  if (!platform::CreateProcessA(commandLine.MutableChars(), folder.Chars(), &startup, &information)) {
    FatalNotExecuted();
  }
  return information.hProcess;
}

platform::Handle StartThroughShell(const Text& copyPath, Text parameters, uint8_t elevationMode) {
  const ShellStartChoice choice = ChooseShellStart(SilentSwitchGiven(), elevationMode);
  if (choice.noAdmin) parameters.Append(" /noadmin");
  platform::ShellExecuteInfo info{};
  info.cbSize = 60;
  info.fMask = platform::kSeeMaskNoCloseProcess;
  info.lpVerb = choice.verb;
  info.lpFile = copyPath.Chars();
  info.lpParameters = parameters.Chars();
  info.nShow = platform::kSwShow;
  if (!platform::ShellExecuteExA(&info)) FatalNotExecuted();
  return info.hProcess;
}

}  // namespace

Text ToUniversalPath(const char* path) {
  Text result(path);
  if (result.Length() < 2 || path[1] != ':') return result;
  // mpr.dll is no known DLL: it comes from the system folder, at run time.
  void* mpr = LoadSystemLibrary("mpr.dll");
  if (mpr == nullptr) return result;
  auto getUniversalName = reinterpret_cast<platform::WNetGetUniversalNameAFunction>(
      platform::GetProcAddress(mpr, "WNetGetUniversalNameA"));
  if (getUniversalName == nullptr) return result;
  constexpr uint32_t kRoom = 2000;
  void* buffer = support::AllocateMemory(kRoom);
  uint32_t size = kRoom;
  if (getUniversalName(path, platform::kUniversalNameInfoLevel, buffer, &size) == platform::kNoError) {
    result = Text(static_cast<platform::UniversalNameInfo*>(buffer)->lpUniversalName);
  }
  support::ReleaseMemory(buffer);
  return result;
}

bool IsAdministrator() {
  const uint8_t ntAuthority[6] = {0, 0, 0, 0, 0, 5};
  const uint32_t subAuthorities[8] = {32, 544, 0, 0, 0, 0, 0, 0};
  void* administrators = nullptr;
  if (!platform::AllocateAndInitializeSid(ntAuthority, 2, subAuthorities, &administrators)) return false;
  if (checkTokenMembership == nullptr) {
    void* advapi32 = platform::GetModuleHandleA("advapi32.dll");
    if (advapi32 != nullptr) {
      checkTokenMembership = reinterpret_cast<platform::CheckTokenMembershipFunction>(
          platform::GetProcAddress(advapi32, "CheckTokenMembership"));
    }
  }
  bool member = false;
  platform::Bool answer = 0;
  if (checkTokenMembership != nullptr && checkTokenMembership(0, administrators, &answer)) {
    member = answer != 0;
  }
  platform::FreeSid(administrators);
  return member;
}

Text BuildArgumentString(const char* packagePath) {
  Text text("\"");
  text.Append(packagePath);
  text.Append('"');
  const int32_t count = ArgumentCount();
  for (int32_t i = 1; i <= count; ++i) {
    const Text argument = Argument(i);
    text.Append(' ');
    if (HasBlank(argument)) {
      text.Append('"');
      text.Append(argument);
      text.Append('"');
    } else {
      text.Append(argument);
    }
  }
  return text;
}

bool SilentSwitchGiven() {
  for (int32_t i = ArgumentCount(); i >= 1; --i) {
    const Text argument = Argument(i);
    if (EqualsIgnoreCase(argument.Chars(), "/silent") || EqualsIgnoreCase(argument.Chars(), "/s")) {
      return true;
    }
  }
  return false;
}

ShellStartChoice ChooseShellStart(bool silent, uint8_t elevationMode) {
  if (!silent) return {"open", true};
  if (elevationMode == kElevationRunAs) return {"runas", false};
  if (elevationMode == kElevationNoAdmin) return {"open", true};
  return {"open", false};
}

void LaunchSetupProgram(const Text& copyPath, uint32_t majorVersion, uint8_t elevationMode,
                        uint32_t detachedSize) {
  const Text packagePath = ToUniversalPath(Argument(0).Chars());
  const Text argumentString = BuildArgumentString(packagePath.Chars());
  const bool direct = !IsVistaOrLater(majorVersion) || IsAdministrator();
  const platform::Handle process = direct ? StartDirectly(copyPath, argumentString)
                                          : StartThroughShell(copyPath, argumentString, elevationMode);
  SetUnstartedCopy(nullptr);  // the setup program has it now
  if (detachedSize != 0) return;
  platform::WaitForSingleObject(process, platform::kInfinite);
  platform::DeleteFileA(copyPath.Chars());
}

void ResetAdministratorCache() { checkTokenMembership = nullptr; }

}  // namespace launcher
