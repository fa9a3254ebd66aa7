// A program's LZMA1 stream made on a thread of its own into a SpillStore,
// while the package writer writes the program before it: the stream does
// not depend on where it goes, so the package's bytes are those one thread
// makes.
#ifndef TOOLS_PACKAGING_SIDE_COMPRESSION_H_
#define TOOLS_PACKAGING_SIDE_COMPRESSION_H_

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "tools/packaging/lzma_encoder.h"
#include "tools/packaging/package_writer.h"

namespace packaging {

class SideCompression {
 public:
  // Starts compressing `program` into `spill` (no progress lines: the
  // writer's own program shows them).
  SideCompression(const PieceSource& program, LzmaSettings lzma, SpillStore* spill);
  // Stops it, if it still runs.
  ~SideCompression();
  SideCompression(const SideCompression&) = delete;
  SideCompression& operator=(const SideCompression&) = delete;

  // Waits for the stream: kWritten with *stream reading it back from the
  // spill store, or why not (as AddPayload says it).
  WriteResult Wait(PieceSource* stream, std::string* error);

 private:
  void Run(const LzmaSettings& lzma);

  PieceSource program_;
  SpillStore* spill_;
  std::atomic<bool> stop_{false};
  uint64_t size_ = 0;
  WriteResult result_ = WriteResult::kWritten;
  std::string error_;
  std::thread thread_;
};

}  // namespace packaging

#endif  // TOOLS_PACKAGING_SIDE_COMPRESSION_H_
