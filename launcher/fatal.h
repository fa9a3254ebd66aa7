// Fatal exits: every failure the launcher detects ends here, in a message box
// with the launcher's own path as caption, and then in the end of the process
// with exit code 0. None of these returns, and none releases anything: the
// system reclaims handles and memory.
#ifndef LAUNCHER_FATAL_H_
#define LAUNCHER_FATAL_H_

#include <cstdint>

#include "launcher/package_format.h"
#include "platform/platform.h"

namespace launcher {

extern const char kDamagedPackageMessage[];
extern const char kTruncatedPackageMessage[];
extern const char kTemporaryCopyMessage[];
extern const char kNotExecutedMessage[];

[[noreturn]] void FatalDamagedPackage();
[[noreturn]] void FatalTruncatedPackage();
[[noreturn]] void FatalTemporaryCopy();
[[noreturn]] void FatalNotExecuted();

// Shows the package message that `reference` points to in `ownFile` (moving
// its file position), with every "%USER%", then every "%user%", replaced by
// `substitution` when that is not empty. A message that cannot be read whole
// gives the damaged-package message instead.
[[noreturn]] void FatalPackageMessage(platform::Handle ownFile, const MessageReference& reference,
                                      const char* substitution);

// The copy that the last-resort report deletes: written, but not yet handed
// to a running setup program. `path` must live until it is forgotten
// (nullptr). Without this, running out of memory between the write and the
// start would leave the copy behind.
void SetUnstartedCopy(const char* path);

// The last-resort report for failures that no check catches: a box captioned
// "Error" reading "Runtime error NNNN at XXXXXXXX", then the end of the
// process with `number` as its exit code. A temporary copy that no setup
// program has been started from yet is deleted first.
constexpr uint32_t kRuntimeErrorOutOfMemory = 203;
constexpr uint32_t kRuntimeErrorInvalidRelease = 204;
[[noreturn]] void RuntimeError(uint32_t number, const void* address);

// The text of that report, e.g. "Runtime error 203 at 0040A1B2".
void FormatRuntimeError(uint32_t number, uintptr_t address, char out[32]);

// The report number for a processor exception code (216 for an access
// violation, 200 for an integer division by zero, 255 for unknown codes).
uint32_t RuntimeErrorForException(uint32_t exceptionCode);

}  // namespace launcher

#endif  // LAUNCHER_FATAL_H_
