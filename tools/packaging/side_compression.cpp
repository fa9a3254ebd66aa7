// A program compressed beside the package writer, into a spill store.
#include "tools/packaging/side_compression.h"

namespace packaging {

SideCompression::SideCompression(const PieceSource& program, LzmaSettings lzma, SpillStore* spill)
    : program_(program), spill_(spill) {
  lzma.progress = nullptr;
  thread_ = std::thread([this, lzma] { Run(lzma); });
}

SideCompression::~SideCompression() {
  if (thread_.joinable()) stop_ = true, thread_.join();
}

WriteResult SideCompression::Wait(PieceSource* stream, std::string* error) {
  thread_.join();
  if (result_ != WriteResult::kWritten) return *error = error_, result_;
  SpillStore* spill = spill_;
  stream->size = size_;
  stream->read = [spill](uint64_t offset, uint8_t* to, size_t count, std::string* why) {
    return spill->Read(offset, to, count) || (*why = spill->Reason(), false);
  };
  return WriteResult::kWritten;
}

void SideCompression::Run(const LzmaSettings& lzma) {
  bool past = false, unwritten = false, unread = false;
  PieceSource reading = program_;
  reading.read = [&](uint64_t at, uint8_t* p, size_t n, std::string* why) {
    return program_.read(at, p, n, why) || (unread = true, false);
  };
  const bool ok = CompressLzma1(reading, lzma, [&](const uint8_t* p, size_t n) {
    if (stop_) return false;
    if (size_ + n >= launcher::kLimit) return past = true, false;
    if (!spill_->Append(p, n)) return unwritten = true, false;
    size_ += n;
    return true;
  }, &error_);
  if (past) error_ = "payload would lie at or past 2 GiB", result_ = WriteResult::kRefused;
  else if (unwritten) error_ = spill_->Reason(), result_ = WriteResult::kInputOutputFailed;
  else if (!ok) result_ = unread ? WriteResult::kInputOutputFailed : WriteResult::kRefused;
}

}  // namespace packaging
