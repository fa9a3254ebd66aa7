// Writes the seed corpus: small valid and invalid packages in the fuzz
// target's input form (settings byte, command-line length, command line,
// file). make_corpus FOLDER [PACKAGE]: with PACKAGE (the worked example as
// setup-package builds it), also a full-size seed of the real launcher image
// with its maker's version resource and icon.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/helpers/test_packages.h"

namespace {

void Write(const std::string& folder, const std::string& name, uint8_t settings, const std::string& arguments,
           const packaging::Bytes& file) {
  std::ofstream out(folder + "/" + name, std::ios::binary);
  out.put(static_cast<char>(settings));
  out.put(static_cast<char>(arguments.size()));
  out << arguments;
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

packaging::PackageInput Small() {
  packaging::PackageInput input = testing_support::GoodInput();
  input.program32 = testing_support::FakeProgram(600, 1);
  input.setupData = packaging::Bytes(40, 7);
  input.architectureMessage = testing_support::U16("Not for this machine.");
  input.versionMessage = testing_support::U16("Not on %USER% or %user%.");
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) return 2;
  const std::string dir = argv[1];
  Write(dir, "good-one-payload", 0x30, "", testing_support::Build(Small()).bytes);
  packaging::PackageInput both = Small();
  both.program64 = testing_support::FakeProgram(500, 2);
  Write(dir, "good-two-payloads-32", 0x31, "/32 /temp", testing_support::Build(both).bytes);
  packaging::PackageInput only64 = Small();
  only64.program32.reset();
  only64.program64 = testing_support::FakeProgram(500, 3);
  Write(dir, "good-only-64-silent", 0x31, "/S \"a b\" /temp C:\\Setup", testing_support::Build(only64).bytes);
  packaging::PackageInput detached = Small();
  detached.detached = true;
  detached.lzma.endMarker = true;
  Write(dir, "good-detached-end-marker", 0x12, "x", testing_support::Build(detached).bytes);
  packaging::PackageInput refused = Small();
  refused.allowedVersions = 0;
  Write(dir, "bad-version-refused", 0x20, "", testing_support::Build(refused).bytes);
  packaging::PackageInput notFor64 = Small();
  notFor64.notFor64BitWindows = true;
  Write(dir, "bad-architecture", 0x31, "", testing_support::Build(notFor64).bytes);
  packaging::PackageInput sizeOff = Small();
  sizeOff.adjust = [](launcher::PackageLocator&, launcher::PackageHeader& h) { h.payload32.uncompressedSize += 9; };
  Write(dir, "bad-uncompressed-size", 0x30, "", testing_support::Build(sizeOff).bytes);
  packaging::Bytes truncated = testing_support::Build(Small()).bytes;
  truncated.resize(truncated.size() - 3);
  Write(dir, "bad-truncated", 0x30, "", truncated);
  Write(dir, "bad-no-package", 0x30, "", testing_support::FakeImage());
  if (argc == 3) {
    std::ifstream in(argv[2], std::ios::binary);
    const packaging::Bytes real((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (real.empty()) return 1;
    Write(dir, "good-real-example", 0xAB, "", real);  // 64-bit Windows 10, an administrator
  }
  return 0;
}
