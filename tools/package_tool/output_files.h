// Outputs as the package tool writes them: whole or not at all, through a
// unique temporary file in the target's own folder that is then renamed, and
// removed when the tool is interrupted.
#ifndef TOOLS_PACKAGE_TOOL_OUTPUT_FILES_H_
#define TOOLS_PACKAGE_TOOL_OUTPUT_FILES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "host/pe_image.h"
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
  // The temporary file's descriptor, for a writer that places its bytes
  // itself (a FileSink); that writer reports its own failures.
  int Descriptor(int index) const { return outputs_[index].fd; }
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
    int fd = -1;
    uint64_t written = 0;
    int error = 0;  // errno of the first failed write
    int slot = -1;  // its temporary file's
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
  // Creates it (empty, private) in the folder of `near`; its descriptor is
  // open for writing.
  bool Create(const std::string& near, std::string* error);
  const std::string& path() const { return path_; }
  int fd() const { return fd_; }
  // Flushes it, gives it the usual mode and renames it to `path`.
  bool Publish(const std::string& path, std::string* error);

 private:
  int slot_ = -1, fd_ = -1;
  std::string path_;
};

// A package written into a new, empty file: appended in order, its records
// written over what was appended, and the PE checksum taken as the bytes
// pass; Finish writes the checksum into its field.
class FileSink : public packaging::PackageSink {
 public:
  FileSink(int fd, std::string path, uint32_t checkSumOffset)
      : fd_(fd), path_(std::move(path)), checkSumOffset_(checkSumOffset), sum_(checkSumOffset) {}
  bool Append(const uint8_t* bytes, size_t count) override;
  bool Put(uint64_t offset, const uint8_t* bytes, size_t count) override;
  std::string Reason() const override;
  bool Finish();

 private:
  bool WriteAt(uint64_t offset, const uint8_t* bytes, size_t count);
  int fd_;
  std::string path_;
  uint32_t checkSumOffset_;
  pe::ChecksumSum sum_;
  uint64_t size_ = 0;
  int error_ = 0;  // errno of the first failure
};

// One output from bytes in memory (through an OutputSet).
bool WriteOutputFile(const std::string& path, const packaging::Bytes& bytes, Existing existing,
                     std::string* error);

// Removes every temporary file being written and the folder made for them;
// async-signal-safe, for a handler that ends the tool.
void RemoveTemporaries();

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_OUTPUT_FILES_H_
