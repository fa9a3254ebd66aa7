// The launcher's whole run, one straight path from start to end.
#ifndef LAUNCHER_MAIN_SEQUENCE_H_
#define LAUNCHER_MAIN_SEQUENCE_H_

#include "launcher/tool_steps.h"

namespace launcher {

// Runs the steps in order, with the tool's steps where `steps` gives them.
// Returns only after a complete run; every failure ends the process inside a
// step.
void RunLauncher(const ToolSteps* steps);

// The program entry: builds the CRC table, runs the launcher and ends the
// process with exit code 0.
[[noreturn]] void LauncherMain();
// The same with a tool's steps.
[[noreturn]] void LauncherMainWith(const ToolSteps* steps);

}  // namespace launcher

#endif  // LAUNCHER_MAIN_SEQUENCE_H_
