// The running tool on Linux: its folder, /bin/sh for the author's commands,
// its standard streams and its end.
#include "host/system/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "host/system/files.h"

extern char** environ;

namespace sys {

std::string ToolFolder() {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  self[n] = 0;
  return FolderOf(self);
}

const char* const kInstalledLauncherWords = "share/setup-package/launcher.exe beside the bin folder the tool is in";

std::string InstalledLauncherOf(const std::string& toolFolder) {
  // bin/setup-package and share/setup-package/launcher.exe
  if (toolFolder.empty()) return "share/setup-package/launcher.exe";
  return FolderOf(toolFolder) + "/share/setup-package/launcher.exe";
}

std::string QuotedForCommand(const std::string& path) {
  std::string out = "'";
  for (char c : path) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

int RunCommand(const std::string& command, bool quiet, size_t keep, std::string* errors) {
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (quiet) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  } else {
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  }
  posix_spawn_file_actions_adddup2(&actions, pipe[1], STDERR_FILENO);
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  pid_t pid = -1;
  const int started = ::posix_spawn(&pid, "/bin/sh", &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe[1]);
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) != 0;) {
    if (n > 0) {
      errors->append(buffer, size_t(n));
      if (errors->size() > 2 * keep) errors->erase(0, errors->size() - keep);
    } else if (errno != EINTR) {
      break;
    }
  }
  if (errors->size() > keep) errors->erase(0, errors->size() - keep);
  ::close(pipe[0]);
  if (started != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void PrepareStandardStreams() {}

bool ErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void WriteRaw(int stream, const char* text, size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(stream == 1 ? STDOUT_FILENO : STDERR_FILENO, text, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n, count -= size_t(n);
  }
}

void EndNow(int status) { ::_exit(status); }

}  // namespace sys
