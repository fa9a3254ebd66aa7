// Test packages, described in one place. Every package the tests use starts
// from GoodPackage() and is then changed on purpose; the changes are named
// after the outcome they must give.
#ifndef TESTS_HELPERS_TEST_PACKAGES_H_
#define TESTS_HELPERS_TEST_PACKAGES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/sim_machine.h"
#include "host/pe_image.h"
#include "tests/helpers/package_builder.h"

namespace testing_support {

using packaging::Bytes;

// A stand-in launcher image for the simulated machine: "MZ", zeros, and room
// for the locator, 1024 bytes long.
Bytes FakeImage();

// A program that Windows would start (for sizes from 0x170 bytes on; smaller
// ones only start with "MZ") and that is not very compressible.
Bytes FakeProgram(uint32_t size, uint32_t seed, uint16_t machine = pe::kMachineI386);

// Input for a whole, valid package with one 32-bit setup program, 4 KiB of
// setup data, and the CRC over header and payload.
packaging::PackageInput GoodInput();
packaging::BuiltPackage Build(const packaging::PackageInput& input);
packaging::BuiltPackage GoodPackage();

// The outcome of one simulated run.
struct Outcome {
  uint32_t exitCode = 0;
  std::vector<sim::MessageBoxRecord> boxes;
};

// A machine with `package` as the launcher's own file at the module path and
// `arguments` after the program name on the command line.
void PlacePackage(sim::Machine* machine, const Bytes& package, const std::string& arguments = "");

// Runs the launcher's program entry on `machine`.
Outcome RunLauncherOn(sim::Machine* machine);

// Places `package` on a fresh default machine and runs it.
Outcome RunPackage(const Bytes& package, const std::string& arguments = "");

std::u16string U16(const std::string& ascii);

}  // namespace testing_support

#endif  // TESTS_HELPERS_TEST_PACKAGES_H_
