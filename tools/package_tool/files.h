// Files as the package tool reads and writes them: inputs must be regular
// files (a folder or a device is named as such, never a crash), and outputs
// appear whole or not at all, through a unique temporary file in the target's
// own folder that is then renamed.
#ifndef TOOLS_PACKAGE_TOOL_FILES_H_
#define TOOLS_PACKAGE_TOOL_FILES_H_

#include <optional>
#include <string>
#include <vector>

#include "tools/package/package_writer.h"

namespace tool {

// Reads a whole regular file. False with "PATH: is a directory", "PATH: not
// a regular file" or "PATH: <system reason>" in *error.
bool ReadInputFile(const std::string& path, packaging::Bytes* out, std::string* error);

// Where an installed tool keeps its launcher image: ../share/setup-package
// from the folder the tool itself runs from; the path when the file is there.
std::string InstalledLauncherPath();
std::optional<std::string> InstalledLauncher();

// Whether both paths name one existing file (the same device and inode).
bool SameFile(const std::string& a, const std::string& b);

// The folder part of a path ("." when it has none).
std::string FolderOf(const std::string& path);

enum class Existing { kReplace, kRefuse };

// Writes `bytes` to `path`: into a new temporary file beside it (created
// exclusively, so no link is followed), flushed, then renamed over `path`.
// With kRefuse an existing `path` (of any kind, links included) is left alone
// and the call fails with "PATH: exists (use --force to replace it)".
bool WriteOutputFile(const std::string& path, const packaging::Bytes& bytes, Existing existing,
                     std::string* error);

// The same for several files, all or nothing: every name is checked first,
// every file written to its temporary file, and only then renamed; on any
// failure none is left. Temporary files are removed when the process is
// interrupted (SIGINT, SIGTERM, SIGHUP).
struct OutputFile {
  std::string path;
  const packaging::Bytes& bytes;
};
bool WriteOutputFiles(const std::vector<OutputFile>& files, Existing existing, std::string* error);

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_FILES_H_
