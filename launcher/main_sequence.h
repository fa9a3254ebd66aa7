// The launcher's whole run, one straight path from start to end.
#ifndef LAUNCHER_MAIN_SEQUENCE_H_
#define LAUNCHER_MAIN_SEQUENCE_H_

#include "launcher/payload.h"

namespace launcher {

// The decoding step (DecodePayload in the shipped launcher). Host tools that
// run the launcher many times over one package hand in a step that decodes
// each payload once and gives the same result again.
using DecodeStep = void (*)(platform::Handle ownFile, const PayloadEntry& entry, const PackageHeader& header,
                            support::TStream* compressed, support::TStream* decompressed);

// Runs the steps in order. Returns only after a complete run; every failure
// ends the process inside a step.
void RunLauncher(DecodeStep decode = DecodePayload);

// The program entry: builds the CRC table, runs the launcher and ends the
// process with exit code 0.
[[noreturn]] void LauncherMain();
// The same with another decoding step (see DecodeStep).
[[noreturn]] void LauncherMainWith(DecodeStep decode);

}  // namespace launcher

#endif  // LAUNCHER_MAIN_SEQUENCE_H_
