// The package as build writes it into a file: placed piece by piece, the PE
// checksum taken as the bytes pass.
#ifndef TOOLS_PACKAGE_TOOL_FILE_SINK_H_
#define TOOLS_PACKAGE_TOOL_FILE_SINK_H_

#include <cstdint>
#include <string>

#include "host/pe_image.h"
#include "tools/pe/pe_rewrite.h"
#include "host/system/files.h"
#include "tools/packaging/package_writer.h"

namespace tool {

// A package written into a new, empty file: appended in order, its records
// written over what was appended, and the PE checksum taken as the bytes
// pass; Finish writes the checksum into its field.
class FileSink : public packaging::PackageSink {
 public:
  FileSink(sys::File file, std::string path, uint32_t checkSumOffset)
      : file_(file), path_(std::move(path)), checkSumOffset_(checkSumOffset), sum_(checkSumOffset) {}
  bool Append(const uint8_t* bytes, size_t count) override;
  bool Put(uint64_t offset, const uint8_t* bytes, size_t count) override;
  std::string Reason() const override;
  bool Finish();

 private:
  bool WriteAt(uint64_t offset, const uint8_t* bytes, size_t count);
  sys::File file_;
  std::string path_;
  uint32_t checkSumOffset_;
  pe::ChecksumSum sum_;
  uint64_t size_ = 0;
  std::string error_;  // the reason of the first failure
};

// The second program's stream, in a scratch file beside the output while
// the first program is compressed.
class ScratchSpill : public packaging::SpillStore {
 public:
  explicit ScratchSpill(sys::File file) : file_(file) {}
  bool Append(const uint8_t* bytes, size_t count) override;
  bool Read(uint64_t offset, uint8_t* bytes, size_t count) override;
  std::string Reason() const override { return error_; }

 private:
  sys::File file_;
  uint64_t size_ = 0;
  std::string error_;
};

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_FILE_SINK_H_
