#include "tests/support/test_packages.h"

#include <stdexcept>

#include "launcher/main_sequence.h"
#include "launcher/setup_launch.h"

namespace testing_support {

Bytes FakeImage() {
  Bytes image(1024, 0);
  image[0] = 'M';
  image[1] = 'Z';
  return image;
}

Bytes FakeProgram(uint32_t size, uint32_t seed) {
  Bytes program(size);
  uint32_t x = seed * 2654435761u + 1;
  for (uint32_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    // Half text-like, half noise: compresses, but not to nothing.
    program[i] = (i / 64) % 2 ? static_cast<uint8_t>('a' + (x >> 16) % 8)
                              : static_cast<uint8_t>(x >> 24);
  }
  if (size >= 2) {
    program[0] = 'M';
    program[1] = 'Z';
  }
  return program;
}

packaging::PackageInput GoodInput() {
  packaging::PackageInput input;
  input.image = FakeImage();
  input.program32 = FakeProgram(20000, 1);
  input.setupData = Bytes(4096, 0x5A);
  input.lzma.dictionarySize = 1u << 16;
  return input;
}

packaging::BuiltPackage Build(const packaging::PackageInput& input) {
  packaging::BuiltPackage package;
  std::string error;
  if (!packaging::BuildPackage(input, &package, &error)) throw std::runtime_error(error);
  return package;
}

packaging::BuiltPackage GoodPackage() { return Build(GoodInput()); }

void PlacePackage(sim::Machine* machine, const Bytes& package, const std::string& arguments) {
  machine->AddFile(machine->modulePath, package);
  machine->commandLine = "\"" + machine->modulePath + "\"" + (arguments.empty() ? "" : " " + arguments);
}

Outcome RunLauncherOn(sim::Machine* machine) {
  Outcome outcome;
  launcher::ResetAdministratorCacheForTesting();
  outcome.exitCode = machine->Run([] { launcher::LauncherMain(); });
  outcome.boxes = machine->messageBoxes;
  return outcome;
}

Outcome RunPackage(const Bytes& package, const std::string& arguments) {
  sim::Machine machine;
  PlacePackage(&machine, package, arguments);
  return RunLauncherOn(&machine);
}

std::u16string U16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

}  // namespace testing_support
