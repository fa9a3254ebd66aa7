// Checking the package: the validation step.
#ifndef LAUNCHER_PACKAGE_H_
#define LAUNCHER_PACKAGE_H_

#include <cstdint>

#include "launcher/package_format.h"
#include "platform/platform.h"

namespace launcher {

// Reads the locator, checks the file size and the CRC-32 and reads the
// header, in that order. Returns only when all of it passed; otherwise ends
// in the damaged-package or truncated-package message.
void ValidatePackage(platform::Handle ownFile, PackageLocator* locator, PackageHeader* header);

}  // namespace launcher

#endif  // LAUNCHER_PACKAGE_H_
