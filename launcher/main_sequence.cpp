// The launcher's run, step by step.
#include "launcher/main_sequence.h"

#include "launcher/arguments.h"
#include "launcher/crc32.h"
#include "launcher/dll_search.h"
#include "launcher/fatal.h"
#include "launcher/file_handle.h"
#include "launcher/package.h"
#include "launcher/payload.h"
#include "launcher/requirements.h"
#include "launcher/setup_launch.h"
#include "launcher/temp_copy.h"
#include "platform/platform.h"
#include "support/stream.h"

namespace launcher {

void RunLauncher(const ToolSteps* steps) {
  PackageLocator locator{};
  PackageHeader header{};
  VersionInformation version{};
  Text copyPath;
  {
    // 1. Open the own file.
    Text self = Argument(0);
    FileHandle ownFile(platform::CreateFileA(self.Chars(), platform::kGenericRead,
                                             platform::kFileShareRead, platform::kOpenExisting, 0));
    if (!ownFile.IsValid()) FatalDamagedPackage();

    // 2. Validate the package.
    ValidatePackage(ownFile.Get(), &locator, &header, steps->regionCrc, steps->context);

    // 3. Choose the payload and check the architecture.
    const PayloadEntry payload = ChoosePayload(header, ownFile.Get());

    // 4. Check the Windows version.
    version = CheckWindowsVersion(header, ownFile.Get());

    {
      // 5. The streams; released at the end of this scope, the decompressed
      //    one first (8).
      support::TStream compressed;
      support::TStream decompressed;

      // 6. Decode.
      DecodePayload(ownFile.Get(), payload, header, &compressed, &decompressed, steps->decode, steps->context);

      // 7. Write the temporary copy.
      copyPath = MakeCopyPath(ChooseTemporaryFolder());
      WriteTemporaryCopy(copyPath, &decompressed, payload.uncompressedSize);
    }
    // 8. Close the own file (end of this scope): the setup program may open
    //    the package in any mode.
  }

  // 9. Start the setup program, wait for it and delete the copy.
  LaunchSetupProgram(copyPath, version.majorVersion, header.elevationMode, locator.detachedSize);
}

void LauncherMain() {
  static const ToolSteps kOwnSteps = {nullptr, nullptr, nullptr};
  LauncherMainWith(&kOwnSteps);
}

void LauncherMainWith(const ToolSteps* steps) {
  RestrictDllSearch();
  // Per-run state, for tools that run the sequence more than once.
  SetUnstartedCopy(nullptr);
  ResetAdministratorCache();
  BuildCrcTable();
  {
    // The command line is split once, here, and read from then on.
    ArgumentList arguments(platform::GetCommandLineA());
    UseArgumentList(&arguments);
    RunLauncher(steps);
  }
  platform::ExitProcess(0);
}

}  // namespace launcher
