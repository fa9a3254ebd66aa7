// setup-package: makes setup packages for package authors.
//
//   setup-package build --launcher launcher.exe --program32 setup32.exe
//                       [--program64 setup64.exe] [--not-for-64bit]
//                       [--setup-data FILE] [--architecture-message TEXT]
//                       [--version-message TEXT] [--elevation 0|1|2]
//                       [--detached] --output package.exe
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "launcher/package_format.h"
#include "tools/package/package_writer.h"

namespace {

const char kUsage[] =
    "usage: setup-package build --launcher IMAGE --program32 FILE [--program64 FILE]\n"
    "                           [--not-for-64bit] [--setup-data FILE]\n"
    "                           [--architecture-message TEXT] [--version-message TEXT]\n"
    "                           [--elevation 0|1|2] [--detached] --output FILE\n";

bool ReadFile(const std::string& path, packaging::Bytes* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "setup-package: %s\n", message.c_str());
  return 1;
}

int Build(int argc, char** argv) {
  packaging::PackageInput input;
  std::string output, launcherPath;
  for (int i = 2; i < argc; ++i) {
    const std::string option = argv[i];
    auto value = [&](std::string* into) {
      if (i + 1 >= argc) return false;
      *into = argv[++i];
      return true;
    };
    std::string v;
    if (option == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (option == "--launcher" && value(&launcherPath)) {
      if (!ReadFile(launcherPath, &input.image)) return Fail(launcherPath + ": cannot read the launcher image");
    } else if ((option == "--program32" || option == "--program64") && value(&v)) {
      packaging::Bytes program;
      if (!ReadFile(v, &program)) return Fail(v + ": cannot read the setup program");
      (option == "--program32" ? input.program32 : input.program64) = program;
    } else if (option == "--setup-data" && value(&v)) {
      if (!ReadFile(v, &input.setupData)) return Fail(v + ": cannot read the setup data");
    } else if (option == "--architecture-message" && value(&v)) {
      if (!packaging::Utf8ToUtf16(v, &input.architectureMessage)) return Fail("architecture message: not UTF-8");
    } else if (option == "--version-message" && value(&v)) {
      if (!packaging::Utf8ToUtf16(v, &input.versionMessage)) return Fail("version message: not UTF-8");
    } else if (option == "--elevation" && value(&v)) {
      if (v != "0" && v != "1" && v != "2") return Fail("--elevation takes 0, 1 or 2");
      input.elevationMode = static_cast<uint8_t>(v[0] - '0');
    } else if (option == "--not-for-64bit") {
      input.notFor64BitWindows = true;
    } else if (option == "--detached") {
      input.detached = true;
    } else if (option == "--output" && value(&output)) {
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (launcherPath.empty() || output.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  packaging::BuiltPackage package;
  std::string error;
  if (!packaging::BuildPackage(input, &package, &error)) return Fail(error);
  const std::string temporary = output + ".partial";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(package.bytes.data()), static_cast<std::streamsize>(package.bytes.size()));
    if (!out) {
      std::remove(temporary.c_str());
      return Fail(output + ": cannot write");
    }
  }
  if (std::rename(temporary.c_str(), output.c_str()) != 0) {
    std::remove(temporary.c_str());
    return Fail(output + ": cannot write");
  }
  std::printf("%s: %zu bytes (header at %u, CRC over %u bytes)\n", output.c_str(), package.bytes.size(),
              package.locator.headerOffset, package.locator.crcLength);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "build") == 0) return Build(argc, argv);
  std::fputs(kUsage, argc >= 2 && std::strcmp(argv[1], "--help") == 0 ? stdout : stderr);
  return argc >= 2 && std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
}
