// The launcher's whole run, one straight path from start to end.
#ifndef LAUNCHER_MAIN_SEQUENCE_H_
#define LAUNCHER_MAIN_SEQUENCE_H_

#include "launcher/payload.h"

namespace launcher {

// Another decoding step than DecodePayload, the shipped launcher's. Host
// tools that run the launcher many times over one package hand in a step
// that decodes each payload once and gives the same result again; `context`
// is what they handed in with it.
using DecodeStep = void (*)(void* context, platform::Handle ownFile, const PayloadEntry& entry,
                            const PackageHeader& header, support::TStream* compressed,
                            support::TStream* decompressed);

// Runs the steps in order, decoding with `decode` (null: DecodePayload).
// Returns only after a complete run; every failure ends the process inside a
// step.
void RunLauncher(DecodeStep decode = nullptr, void* context = nullptr);

// The program entry: builds the CRC table, runs the launcher and ends the
// process with exit code 0.
[[noreturn]] void LauncherMain();
// The same with another decoding step (see DecodeStep).
[[noreturn]] void LauncherMainWith(DecodeStep decode, void* context);

}  // namespace launcher

#endif  // LAUNCHER_MAIN_SEQUENCE_H_
