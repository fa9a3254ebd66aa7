// The temporary copy of the setup program: where it goes, what it is called,
// and its one whole write.
#ifndef LAUNCHER_TEMP_COPY_H_
#define LAUNCHER_TEMP_COPY_H_

#include <cstdint>

#include "launcher/text.h"
#include "support/stream.h"

namespace launcher {

// Up to and including the last backslash; empty when there is none.
Text FolderPart(const char* path);
// After the last backslash; the whole path when there is none.
Text FileNamePart(const char* path);
// True when a file or a folder of that name exists.
bool PathExists(const char* path);

// The folder for the copy, ending in a backslash: the launcher's own folder
// when "/temp" is the last argument, the folder after the last "/temp"
// otherwise, else the system's temporary folder ("C:\" when it has none).
Text ChooseTemporaryFolder();

// folder + the launcher's file name, numbered (setup2.exe, setup3.exe, ...)
// when that name is taken.
Text MakeCopyPath(const Text& folder);

// Writes `size` bytes of the stream's block to `copyPath` in one write.
// Ends in the temporary-copy message when the file cannot be created or the
// write comes up short (the partial file is deleted first).
void WriteTemporaryCopy(const Text& copyPath, support::TStream* stream, uint32_t size);

}  // namespace launcher

#endif  // LAUNCHER_TEMP_COPY_H_
