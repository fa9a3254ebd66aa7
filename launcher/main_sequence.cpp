#include "launcher/main_sequence.h"

#include "launcher/arguments.h"
#include "launcher/fatal.h"
#include "launcher/file_handle.h"
#include "launcher/package.h"
#include "platform/platform.h"

namespace launcher {

void RunLauncher() {
  PackageLocator locator{};
  PackageHeader header{};
  {
    // 1. Open the own file.
    Text self = Argument(0);
    FileHandle ownFile(platform::CreateFileA(self.Chars(), platform::kGenericRead,
                                             platform::kFileShareRead, platform::kOpenExisting, 0));
    if (!ownFile.IsValid()) FatalDamagedPackage();

    // 2. Validate the package.
    ValidatePackage(ownFile.Get(), &locator, &header);

    // 8. Close the own file (end of this scope).
  }
}

void LauncherMain() {
  BuildCrcTable();
  RunLauncher();
  platform::ExitProcess(0);
}

}  // namespace launcher
