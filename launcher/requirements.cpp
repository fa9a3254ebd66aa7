// The payload for the machine's architecture, and the version check against kVersionRows.
#include "launcher/requirements.h"

#include "launcher/arguments.h"
#include "launcher/fatal.h"

namespace launcher {

namespace {

bool ArgumentGiven32() {
  for (int32_t i = ArgumentCount(); i >= 1; --i) {
    if (EqualsExactly(Argument(i).Chars(), "/32")) return true;
  }
  return false;
}

Text Named(const char* base, uint32_t number) {
  Text name(base);
  name.Append(DecimalText(number));
  return name;
}

}  // namespace

bool Is64BitWindows() {
  void* kernel32 = platform::GetModuleHandleA("kernel32");
  auto isWow64Process = reinterpret_cast<platform::IsWow64ProcessFunction>(
      platform::GetProcAddress(kernel32, "IsWow64Process"));
  if (isWow64Process == nullptr) return false;
  platform::Bool wow64 = 0;
  if (!isWow64Process(platform::GetCurrentProcess(), &wow64)) return false;
  return wow64 != 0;
}

PayloadEntry ChoosePayload(const PackageHeader& header, platform::Handle ownFile) {
  const uint32_t offset32 = header.payload32.offset;
  const uint32_t offset64 = header.payload64.offset;
  if (offset32 == 0) {
    if (!Is64BitWindows()) FatalPackageMessage(ownFile, header.architectureMessage, "");
    return header.payload64;
  }
  if (offset64 == kNotFor64BitWindows) {
    if (Is64BitWindows()) FatalPackageMessage(ownFile, header.architectureMessage, "");
    return header.payload32;
  }
  if (offset64 == 0) return header.payload32;
  if (ArgumentGiven32()) return header.payload32;
  return Is64BitWindows() ? header.payload64 : header.payload32;
}

VersionRow FindVersionRow(uint32_t platformId, uint32_t major, uint32_t minor) {
  const bool nt = platformId == platform::kVerPlatformWin32Nt;
  for (const VersionRowSpec& row : kVersionRows) {
    if (row.major == 0 || row.major != major || minor < row.minorFrom || (row.minorTo != kAnyMinor && minor > row.minorTo)) continue;
    if (row.platform == (nt ? Platform::kNotNt : Platform::kNt)) continue;
    return VersionRow{row.name, row.bit, row.servicePackChecked};
  }
  if (major == 6) return {Named("Windows 6.", minor), -1};
  if (major == 10) return {Named("Windows 10.", minor), kVersionBitLater};
  Text name("Windows ");
  if (major < 10) name.Append('0');
  name.Append(DecimalText(major));
  name.Append('.');
  name.Append(DecimalText(minor));
  return {name, kVersionBitLater};
}

VersionInformation CheckWindowsVersion(const PackageHeader& header, platform::Handle ownFile) {
  VersionInformation version{0, 0, 0};
  platform::OsVersionInfo info{};
  info.dwOSVersionInfoSize = platform::kOsVersionInfoSize;
  if (!platform::GetVersionExA(&info)) return version;
  version = VersionInformation{info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
  const VersionRow row = FindVersionRow(version.platformId, version.majorVersion, version.minorVersion);
  if (row.governingBit < 0 || !VersionAllowed(header, static_cast<unsigned>(row.governingBit))) {
    FatalPackageMessage(ownFile, header.versionMessage, row.name.Chars());
  }
  if (row.servicePackChecked && !VersionAllowed(header, kBitWindows95) &&
      !VersionAllowed(header, kBitWindows98) && !VersionAllowed(header, kBitWindowsMe)) {
    CheckWindows2000ServicePack(header, ownFile);
  }
  return version;
}

void CheckWindows2000ServicePack(const PackageHeader& header, platform::Handle ownFile) {
  platform::OsVersionInfo info{};
  info.dwOSVersionInfoSize = platform::kOsVersionInfoExSize;
  if (!platform::GetVersionExA(&info)) return;
  const uint16_t servicePack = info.wServicePackMajor;
  if (servicePack == 0) {
    FatalPackageMessage(ownFile, header.versionMessage, "Windows 2000 (no Service Pack)");
  }
  if (servicePack <= 3) {
    Text name("Windows 2000 Service Pack ");
    name.Append(static_cast<char>('0' + servicePack));
    FatalPackageMessage(ownFile, header.versionMessage, name.Chars());
  }
}

}  // namespace launcher
