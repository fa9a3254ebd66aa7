// The simulated machine's processes: the direct start and the shell start,
// process and thread handles and the wait, and the administrator check.
#include "platform/sim/sim_state.h"

#include <cstring>

namespace sim {

platform::Bool PLATFORM_API SimCheckTokenMembership(platform::Handle token, void* sid,
                                                    platform::Bool* member) {
  Machine& m = Machine::Current();
  Log(m, "CheckTokenMembership token=" + std::to_string(token));
  if (m.checkTokenMembershipFails) return 0;
  const bool adminSid = sid == StateOf(m).sidStorage.data() && StateOf(m).sidStorage == "S-1-5-32-544";
  *member = (adminSid && m.administrator) ? 1 : 0;
  return 1;
}

// The program a command line starts: its first token, quotes removed.
std::string ProgramOf(const std::string& commandLine) {
  if (!commandLine.empty() && commandLine[0] == '"') {
    size_t end = commandLine.find('"', 1);
    return commandLine.substr(1, end == std::string::npos ? std::string::npos : end - 1);
  }
  return commandLine.substr(0, commandLine.find(' '));
}

// A running process whose image is `path` (it cannot be deleted then).
bool ImageInUse(const Machine& m, const std::string& path) {
  for (const Process& p : StateOf(m).processes) {
    if (p.running && sim::SamePath(p.image, path)) return true;
  }
  return false;
}

// A new process for `image`: its process handle and its main thread's.
void StartProcess(Machine& m, const std::string& image, platform::Handle* process, platform::Handle* thread) {
  StateOf(m).processes.push_back(Process{image, true});
  Open open;
  open.path = image;
  open.process = true;
  open.processIndex = static_cast<int>(StateOf(m).processes.size()) - 1;
  *process = NewHandle(m, open);
  if (thread != nullptr) {
    open.process = false;
    open.thread = true;
    *thread = NewHandle(m, open);
  }
}

}  // namespace sim

namespace platform {

using namespace sim;

Handle GetCurrentProcess() { return ~Handle(0); }

Bool CreateProcessA(char* commandLine, const char* currentDirectory, const StartupInfo* startup,
                    ProcessInformation* information) {
  Machine& m = TheMachine();
  Log(m, std::string("CreateProcessA ") + commandLine);
  if (Fault(m, "CreateProcessA")) return 0;
  if (std::strlen(commandLine) >= kMaxCommandLine) return 0;  // ERROR_INVALID_PARAMETER
  if (currentDirectory != nullptr) {
    std::string folder = currentDirectory;
    if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
    if (!m.IsFolder(folder)) return 0;  // ERROR_DIRECTORY
  }
  const std::string program = ProgramOf(commandLine);
  if (!m.CanStart(program)) return 0;
  sim::ProcessStart start{};
  start.viaShell = false;
  start.commandLine = commandLine;
  start.currentDirectory = currentDirectory != nullptr ? currentDirectory : "";
  start.startupInfoSize = startup->cb;
  StartProcess(m, program, &information->hProcess, &information->hThread);
  start.process = information->hProcess;
  information->dwProcessId = 1000;
  information->dwThreadId = 1004;
  m.starts.push_back(start);
  if (m.onProcessStart) m.onProcessStart(start);
  return 1;
}

Bool ShellExecuteExA(ShellExecuteInfo* info) {
  Machine& m = TheMachine();
  Log(m, std::string("ShellExecuteExA ") + (info->lpVerb ? info->lpVerb : "(null)") + " " +
        (info->lpFile ? info->lpFile : "") + " " + (info->lpParameters ? info->lpParameters : ""));
  sim::SystemLoads(m, "ShellExecuteExA");
  if (Fault(m, "ShellExecuteExA")) return 0;
  if (info->lpFile == nullptr || !m.CanStart(info->lpFile)) return 0;
  // The shell starts only files of a program type.
  const std::string file = info->lpFile;
  std::string type = file.size() >= 4 ? file.substr(file.size() - 4) : "";
  for (char& c : type) c = sim::Upper(c);
  if (type != ".EXE" && type != ".COM" && type != ".SCR") return 0;  // SE_ERR_NOASSOC
  sim::ProcessStart start{};
  start.viaShell = true;
  start.verb = info->lpVerb ? info->lpVerb : "";
  start.file = info->lpFile;
  start.parameters = info->lpParameters ? info->lpParameters : "";
  start.currentDirectory = info->lpDirectory ? info->lpDirectory : "";
  start.startupInfoSize = info->cbSize;
  start.mask = info->fMask;
  start.show = info->nShow;
  StartProcess(m, file, &start.process, nullptr);
  if (info->fMask & kSeeMaskNoCloseProcess) info->hProcess = start.process;
  m.starts.push_back(start);
  if (m.onProcessStart) m.onProcessStart(start);
  return 1;
}

uint32_t WaitForSingleObject(Handle handle, uint32_t milliseconds) {
  Machine& m = TheMachine();
  Log(m, "WaitForSingleObject " + std::to_string(handle) + " " + sim::Hex(milliseconds));
  if (Fault(m, "WaitForSingleObject")) return 0xFFFFFFFFu;
  Open* open = FindOpen(m, handle);
  if (open == nullptr) return 0xFFFFFFFFu;  // WAIT_FAILED: no such handle
  if (open->process) StateOf(m).processes[open->processIndex].running = false;
  return 0;
}

Bool AllocateAndInitializeSid(const uint8_t authority[6], uint8_t count, const uint32_t sub[8],
                              void** sid) {
  Machine& m = TheMachine();
  std::string text = "S-1-" + std::to_string(authority[5]);
  for (int i = 0; i < count && i < 8; ++i) text += "-" + std::to_string(sub[i]);
  Log(m, "AllocateAndInitializeSid " + text);
  if (m.allocateSidFails) return 0;
  for (int i = 0; i < 5; ++i) {
    if (authority[i] != 0) text += "(bad authority)";
  }
  for (int i = count; i < 8; ++i) {
    if (sub[i] != 0) text += "(extra sub-authority)";
  }
  StateOf(m).sidStorage = text;
  *sid = StateOf(m).sidStorage.data();
  return 1;
}

void FreeSid(void*) { Log(TheMachine(), "FreeSid"); }

}  // namespace platform
