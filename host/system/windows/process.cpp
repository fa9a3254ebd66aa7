// The running tool on Windows: its folder, cmd.exe for the author's
// commands, its standard streams (UTF-8 on a console too) and its end.
#include "host/system/windows/win32_api.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

#include "host/system/process.h"
#include "host/windows_paths.h"

namespace sys {

using namespace win32;

namespace {

UINT consoleCodePage = 0;
void RestoreConsole() {
  if (consoleCodePage != 0) SetConsoleOutputCP(consoleCodePage);
}


// An inheritable handle on NUL, for a child's unused standard streams.
HANDLE Nul(DWORD access) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
}


}  // namespace

std::string ToolFolder() {
  std::wstring self(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, &self[0], static_cast<DWORD>(self.size()));
    if (n == 0) return "";
    if (n < self.size()) {
      self.resize(n);
      break;
    }
    self.resize(self.size() * 2);
  }
  return FolderOf(Utf8(self.data(), self.size()));
}

const char* const kInstalledLauncherWords = "launcher.exe beside setup-package.exe";

std::string InstalledLauncherOf(const std::string& toolFolder) {
  // setup-package.exe and launcher.exe side by side, as the zip holds them
  return toolFolder.empty() ? "launcher.exe" : toolFolder + "\\launcher.exe";
}

std::string QuotedForCommand(const std::string& path) { return host::QuotedForCmd(path); }

int RunCommand(const std::string& command, bool quiet, size_t keep, std::string* errors) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return -1;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE input = Nul(GENERIC_READ), output = INVALID_HANDLE_VALUE;
  const HANDLE ownErrors = GetStdHandle(STD_ERROR_HANDLE);
  if (quiet || ownErrors == nullptr || ownErrors == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), ownErrors, GetCurrentProcess(), &output, 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    output = Nul(GENERIC_WRITE);
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = writeEnd;
  // cmd.exe from the system folder, never one found in the current folder;
  // /d: no AutoRun commands; /s /c: the rest, its outer quotes removed, as
  // the command.
  wchar_t system[MAX_PATH];
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring shell = (n > 0 && n < MAX_PATH ? std::wstring(system, n) : L"C:\\Windows\\System32") + L"\\cmd.exe";
  std::wstring line = L"cmd.exe /d /s /c \"" + Wide(command) + L"\"";
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessW(shell.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                      &process) != 0;
  CloseHandle(writeEnd);
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
  char buffer[4096];
  DWORD got = 0;
  while (started && ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    errors->append(buffer, got);
    if (errors->size() > 2 * keep) errors->erase(0, errors->size() - keep);
  }
  if (errors->size() > keep) errors->erase(0, errors->size() - keep);
  CloseHandle(readEnd);
  if (!started) return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}

void PrepareStandardStreams() {
  // Bytes as written: "\n" stays "\n", in a file as on a console.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // A console shows the UTF-8 the tool writes; its code page is given back
  // at the end.
  const UINT page = GetConsoleOutputCP();
  if (page != 0 && page != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
    consoleCodePage = page;
    std::atexit(RestoreConsole);
  }
}

bool ErrorIsTerminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void WriteRaw(int stream, const char* text, size_t count) {
  DWORD n = 0;
  WriteFile(GetStdHandle(stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE), text, static_cast<DWORD>(count), &n,
            nullptr);
}

void EndNow(int status) { TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status)); for (;;) {} }

}  // namespace sys
