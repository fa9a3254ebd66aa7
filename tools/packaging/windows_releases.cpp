// The Windows releases the simulated machine plays, and their names.
#include "tools/packaging/windows_releases.h"

namespace packaging {

std::string ReleaseName(const WindowsRelease& release) {
  const char* name = release.bit >= 0 ? launcher::VersionName(static_cast<unsigned>(release.bit)) : "";
  return std::string(name) + release.suffix;
}

const WindowsRelease* FindRelease(uint32_t platformId, uint32_t major, uint32_t minor) {
  for (const WindowsRelease& r : kWindowsReleases) {
    if (r.platformId == platformId && r.major == major && r.minor == minor) return &r;
  }
  return nullptr;
}

void PutOnRelease(const WindowsRelease& release, bool is64, sim::Machine* machine) {
  machine->version.dwPlatformId = release.platformId;
  machine->version.dwMajorVersion = release.major;
  machine->version.dwMinorVersion = release.minor;
  machine->version.wServicePackMajor = release.servicePack;
  machine->wow64 = is64;
  machine->hasIsWow64Process = release.hasIsWow64Process;
  machine->dosSubsystem = !is64 && release.dosPrograms;
}

}  // namespace packaging
