#include "tests/helpers/test_packages.h"

#include <algorithm>
#include <cstring>
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

Bytes FakeProgram(uint32_t size, uint32_t seed, uint16_t machine) {
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
  // Headers Windows would start (from 0x170 bytes on): PE at 0x40, a GUI
  // program, one section over the rest of the file from 0x200 on.
  const bool is64 = machine == pe::kMachineAmd64;
  const uint32_t optionalSize = is64 ? 0xF0 : 0xE0;
  if (size < 0x58 + optionalSize + 40) return program;
  auto put16 = [&](uint32_t at, uint16_t v) { program[at] = uint8_t(v), program[at + 1] = uint8_t(v >> 8); };
  auto put32 = [&](uint32_t at, uint32_t v) { put16(at, uint16_t(v)), put16(at + 2, uint16_t(v >> 16)); };
  std::fill(program.begin() + 2, program.begin() + 0x58 + optionalSize + 40, 0);
  put32(0x3C, 0x40);
  program[0x40] = 'P', program[0x41] = 'E';
  put16(0x44, machine);
  put16(0x46, size >= 0x200 ? 1 : 0);
  put16(0x54, static_cast<uint16_t>(optionalSize));
  put16(0x56, 0x0102);
  put16(0x58, is64 ? 0x20B : 0x10B);
  put16(0x58 + 68, pe::kSubsystemWindowsGui);
  const uint32_t section = 0x58 + optionalSize;
  std::memcpy(&program[section], ".text", 5);
  if (size >= 0x200) {
    put32(section + 8, size - 0x200);
    put32(section + 12, 0x1000);
    put32(section + 16, size - 0x200);
    put32(section + 20, 0x200);
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
