// Steps a tool hands in instead of the shipped launcher's own. Tools
// that run the launcher many times over one package read and decode it once
// and give the same results again, taking the memory the launcher's own
// steps take; `context` is theirs. A null step is the launcher's own. The
// shipped launcher hands in none.
#ifndef LAUNCHER_TOOL_STEPS_H_
#define LAUNCHER_TOOL_STEPS_H_

#include <cstdint>

#include "launcher/package_format.h"
#include "platform/platform.h"
#include "support/stream.h"

namespace launcher {

// Instead of ReadRegionCrc (launcher/package.h): reads the CRC region
// (`length` bytes at `offset` of the own file) into `region`, a block of
// that size, and gives its CRC-32 in *crc; false when it cannot be read.
using RegionCrcStep = bool (*)(void* context, platform::Handle ownFile, uint32_t offset, uint8_t* region,
                               uint32_t length, uint32_t* crc);

// Instead of the decoding of DecodePayload (launcher/payload.h): leaves the
// entry's program in `decompressed` as DecodePayload would, or ends the run
// as it would.
using DecodeStep = void (*)(void* context, platform::Handle ownFile, const PayloadEntry& entry,
                            const PackageHeader& header, support::TStream* compressed,
                            support::TStream* decompressed);

struct ToolSteps {
  void* context;
  DecodeStep decode;        // instead of DecodePayload's own
  RegionCrcStep regionCrc;  // instead of ReadRegionCrc
};

}  // namespace launcher

#endif  // LAUNCHER_TOOL_STEPS_H_
