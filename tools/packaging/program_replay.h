// "Decode once, replay on every row": the tool decodes each payload once,
// in pieces, through the launcher's own reading of it on the simulated
// machine (program_check checks the program it gives), and hands the launcher's later runs
// over the same package a decoding step that replays that result (the same
// memory taken in the same steps, the same verdict) instead of decoding
// again.
#ifndef TOOLS_PACKAGING_PROGRAM_REPLAY_H_
#define TOOLS_PACKAGING_PROGRAM_REPLAY_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/bytes.h"
#include "launcher/tool_steps.h"
#include "launcher/package_format.h"
#include "support/stream.h"
#include "tools/packaging/program_head.h"

namespace packaging {

struct Decoded {
  bool read = false;     // the stream was read and the decoder set up
  int64_t produced = 0;  // the bytes the stream gave
  ProgramHead head;      // the program's first bytes, as far as pe::HeadNeeded
  bool ok = false;       // it decoded to exactly the recorded size
  std::string message;   // when not ok: the message the launcher shows
};

// What the launcher's own steps make of a payload, decoded in pieces so that
// no program is held whatever its size: the launcher's reading of the stream
// (ReadPayload), then its decoder bounded at the recorded size.
// With `progress`, a line on standard error while a program of more than a
// few MiB decodes.
Decoded DecodeEntry(host::ByteView file, const launcher::PackageHeader& header, const launcher::PayloadEntry& entry,
                    const PieceSink& sink = nullptr, bool progress = false);

// The launcher's DecodePayload for `entry` on the running simulated machine,
// replayed from what decoding it once gave: the same memory taken in the same
// steps and the same verdict, nothing read or decoded again (not for a
// decoding that ran out of memory itself: how far it got depends on the
// machine). A program that decodes is declared to the machine as the
// output's bytes, not written there (sim::Machine::DeclareBlock).
void ReplayDecodePayload(const launcher::PayloadEntry& entry, const launcher::PackageHeader& header,
                         const std::shared_ptr<const Decoded>& decoded, support::TStream* compressed,
                         support::TStream* decompressed);

// The same replay on the process the launcher gets on 64-bit Windows: empty
// when its memory suffices, else the runtime error the launcher shows.
std::string ReplayedMemoryError(const launcher::PayloadEntry& entry, const launcher::PackageHeader& header,
                                const Decoded& decoded);

// What one verification reads and decodes once, for every row: the CRC
// region, read and summed by the launcher's own step on the first row (each
// row still takes the region's block), and the payloads, each decoded once
// in pieces: every row's decoding step replays what that decoding gave (the
// memory it takes, its verdict), and a program it decodes is declared to the
// row's machine instead of being written there, so that no row holds one.
class RunCache {
 public:
  const launcher::ToolSteps* Steps() { return &steps_; }

  // What CheckPrograms gave for a payload; `slot`: "32-bit" or "64-bit".
  void Add(const launcher::PayloadEntry& entry, Decoded decoded, const char* slot);

  // The slot whose program a copy that begins with `start` holds, or
  // "other".
  std::string WhichProgram(host::ByteView start) const;

 private:
  struct Cached {
    launcher::PayloadEntry entry;
    std::shared_ptr<const Decoded> decoded;
    const char* slot;
  };
  struct RegionSum {
    uint32_t offset, length;
    bool read;
    uint32_t crc;
  };

  // The host's steps; `context` is the cache.
  static void Decode(void* context, platform::Handle ownFile, const launcher::PayloadEntry& entry,
                     const launcher::PackageHeader& header, support::TStream* compressed,
                     support::TStream* decompressed);
  static bool RegionCrc(void* context, platform::Handle ownFile, uint32_t offset, uint8_t* region, uint32_t length,
                        uint32_t* crc);

  std::vector<Cached> entries_;
  std::optional<RegionSum> region_;
  const launcher::ToolSteps steps_ = {this, &Decode, &RegionCrc};
};

}  // namespace packaging

#endif  // TOOLS_PACKAGING_PROGRAM_REPLAY_H_
