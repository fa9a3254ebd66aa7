#include "tools/package_tool/signing.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "tools/packaging/package_reader.h"
#include "tools/package_tool/input_files.h"
#include "tools/package_tool/output_files.h"
#include "tools/package_tool/report.h"

extern char** environ;

namespace tool {

namespace {

// `path` as one word for /bin/sh.
std::string Quoted(const std::string& path) {
  std::string out = "'";
  for (char c : path) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string Substituted(std::string command, const std::string& in, const std::string& out) {
  for (const auto& [word, value] : {std::make_pair("{in}", Quoted(in)), std::make_pair("{out}", Quoted(out))}) {
    for (size_t at = command.find(word); at != std::string::npos; at = command.find(word, at + value.size())) {
      command.replace(at, std::strlen(word), value);
    }
  }
  return command;
}

// The last line of `text` that holds more than white space.
std::string LastLine(const std::string& text) {
  size_t end = text.size();
  while (end > 0) {
    const size_t start = text.rfind('\n', end - 1);
    const size_t from = start == std::string::npos ? 0 : start + 1;
    const std::string line = text.substr(from, end - from);
    if (line.find_first_not_of(" \t\r") != std::string::npos) return line;
    if (start == std::string::npos) break;
    end = start;
  }
  return "";
}

// Runs the command with no input; its output goes to standard error (never
// into a JSON document on standard output), its errors are kept. The exit
// status, or -1 when it could not be started.
int Run(const std::string& command, bool quiet, std::string* errors) {
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
    if (n > 0) errors->append(buffer, size_t(n));
    else if (errno != EINTR) break;
  }
  ::close(pipe[0]);
  if (started != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// What is wrong with the signed package, or "".
std::string CheckSigned(const std::string& path, uint64_t* size) {
  MappedFile file;
  std::string error;
  if (!MapInputFile(path, &file, &error)) return error;
  *size = file.bytes.size();
  if (file.bytes.empty()) return "the command left no signed package at {out}";
  const packaging::PackageView view = packaging::ReadPackage(file.bytes);
  if (!view.problems.empty()) {
    return "the signed package has a problem: [" + view.problemCodes[0] + "] " + view.problems[0];
  }
  // The reader's signature region: a certificate-table entry pointing at a
  // certificate after the recorded end, inside the file.
  if (!view.signature) return "the signed file carries no certificate after the package";
  return "";
}

}  // namespace

int WriteSignedPackage(const std::string& output, const PackageWriter& write, const std::string& command,
                       const Common& common, uint64_t* size, std::string* error) {
  ScratchFile unsigned_, signed_;
  if (!unsigned_.Create(output, error) || !signed_.Create(output, error)) return kExitInputOutput;
  const int written = write(unsigned_.fd(), error);
  if (written != kExitFine) return written;
  // The signer makes {out} itself.
  ::unlink(signed_.path().c_str());
  std::string errors;
  const int status = Run(Substituted(command, unsigned_.path(), signed_.path()), common.quiet, &errors);
  if (common.verbose && !errors.empty()) std::fputs(errors.c_str(), stderr);
  if (status != 0) {
    const std::string last = LastLine(errors);
    *error = "--sign-command " + (status < 0 ? std::string("could not be started")
                                             : "failed (exit status " + std::to_string(status) + ")") +
             (last.empty() ? "" : ": " + Escaped(last));
    return kExitInputOutput;
  }
  const std::string problem = CheckSigned(signed_.path(), size);
  if (!problem.empty()) {
    const std::string last = LastLine(errors);
    *error = "--sign-command: " + problem + (last.empty() ? "" : " (it said: " + Escaped(last) + ")");
    return kExitInputOutput;
  }
  return signed_.Publish(output, error) ? kExitFine : kExitInputOutput;
}

}  // namespace tool
