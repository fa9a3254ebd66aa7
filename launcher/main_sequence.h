// The launcher's whole run, one straight path from start to end.
#ifndef LAUNCHER_MAIN_SEQUENCE_H_
#define LAUNCHER_MAIN_SEQUENCE_H_

namespace launcher {

// Runs the steps in order. Returns only after a complete run; every failure
// ends the process inside a step.
void RunLauncher();

// The program entry: builds the CRC table, runs the launcher and ends the
// process with exit code 0.
[[noreturn]] void LauncherMain();

}  // namespace launcher

#endif  // LAUNCHER_MAIN_SEQUENCE_H_
