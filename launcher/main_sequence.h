// The launcher's whole run, one straight path from start to end.
#ifndef LAUNCHER_MAIN_SEQUENCE_H_
#define LAUNCHER_MAIN_SEQUENCE_H_

#include "launcher/package.h"
#include "launcher/payload.h"

namespace launcher {

// Another decoding step than DecodePayload (see HostSteps).
using DecodeStep = void (*)(void* context, platform::Handle ownFile, const PayloadEntry& entry,
                            const PackageHeader& header, support::TStream* compressed,
                            support::TStream* decompressed);

// Steps a host hands in instead of the shipped launcher's own. Host tools
// that run the launcher many times over one package read and decode it once
// and give the same results again, taking the memory the launcher's own
// steps take; `context` is theirs. A null step is the launcher's own.
struct HostSteps {
  void* context;
  DecodeStep decode;        // instead of DecodePayload
  RegionCrcStep regionCrc;  // instead of ReadRegionCrc
};

// Runs the steps in order, with the host's steps where `steps` gives them.
// Returns only after a complete run; every failure ends the process inside a
// step.
void RunLauncher(const HostSteps* steps);

// The program entry: builds the CRC table, runs the launcher and ends the
// process with exit code 0.
[[noreturn]] void LauncherMain();
// The same with a host's steps.
[[noreturn]] void LauncherMainWith(const HostSteps* steps);

}  // namespace launcher

#endif  // LAUNCHER_MAIN_SEQUENCE_H_
