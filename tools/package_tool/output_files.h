// Outputs as the package tool writes them: whole or not at all, through a
// unique temporary file in the target's own folder that is then renamed, and
// removed when the tool is interrupted.
#ifndef TOOLS_PACKAGE_TOOL_OUTPUT_FILES_H_
#define TOOLS_PACKAGE_TOOL_OUTPUT_FILES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "host/system/files.h"
#include "tools/packaging/package_writer.h"

namespace tool {

enum class Existing { kReplace, kRefuse };

// Outputs that appear all or none: each is written into a new temporary file
// beside its name (created exclusively, so no link is followed), and only
// Commit flushes them and gives them their names; whatever is not committed
// is removed, also when the process is interrupted (SIGINT, SIGTERM, SIGHUP).
// With kRefuse an existing name (of any kind, links included) is left alone
// and refused with "PATH: exists (use --force to replace it)".
class OutputSet {
 public:
  explicit OutputSet(Existing existing) : existing_(existing) {}
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;
  ~OutputSet();

  // Checks the name and opens its temporary file: its index, or -1 with
  // *error.
  int Add(const std::string& path, std::string* error);
  // Appends to output `index`; a write that fails is reported by Commit.
  void Write(int index, const uint8_t* bytes, size_t count);
  uint64_t Written(int index) const { return outputs_[index].written; }
  // The temporary file, for a writer that places its bytes itself (a
  // FileSink); that writer reports its own failures.
  sys::File Descriptor(int index) const { return outputs_[index].file; }
  // The output is not to appear after all.
  void Drop(int index);
  bool Dropped(int index) const { return outputs_[index].dropped; }
  // Flushes and names every output not dropped; on any failure none is left
  // and every file that was there before still is.
  bool Commit(std::string* error);
  // Removes every temporary file now (and the folder given to MadeFolder).
  void Abandon();
  // `folder` was made for these outputs: it goes again, also on an
  // interruption, unless Commit succeeds.
  bool MadeFolder(const std::string& folder);

 private:
  struct Output {
    std::string path;
    sys::File file = sys::kNoFile;
    uint64_t written = 0;
    std::string error;  // the reason of the first failed write
    int slot = -1;      // its temporary file's
    bool dropped = false;
  };
  Existing existing_;
  std::vector<Output> outputs_;
};

// A temporary file beside a path, for a program of the author's to read or
// write (the signing command): removed when the object goes or the tool is
// interrupted, unless Publish gave it the path's name.
class ScratchFile {
 public:
  ScratchFile() = default;
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile();
  // Creates it (empty, private) in the folder of `near`, open for writing.
  bool Create(const std::string& near, std::string* error);
  const std::string& path() const { return path_; }
  sys::File file() const { return file_; }
  // Closes it; CloseAndRemove also removes it, leaving its name free for a
  // program to make (still removed, as the file is, unless published).
  void Close();
  void CloseAndRemove();
  // Closes it, flushes it, gives it the usual mode and renames it to `path`.
  bool Publish(const std::string& path, std::string* error);

 private:
  int slot_ = -1;
  sys::File file_ = sys::kNoFile;
  std::string path_;
};

// Whether an output may take the name `path`: nothing there, or a regular
// file (a link to one included). A folder, a device, a FIFO or a socket (or a
// link to one) is never written over: false with "PATH: is a directory" or
// "PATH: not a regular file ...".
bool CheckReplaceable(const std::string& path, std::string* error);

// One output from bytes in memory (through an OutputSet).
bool WriteOutputFile(const std::string& path, const packaging::Bytes& bytes, Existing existing,
                     std::string* error);

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_OUTPUT_FILES_H_
