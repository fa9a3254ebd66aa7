// Packages made in memory, as the tests, the benchmarks and the fuzzing
// corpus make them: through the tool's own writer, and with every record
// field open to change after the layout is made, so that damaged packages
// are made on purpose.
#ifndef TESTS_HELPERS_PACKAGE_BUILDER_H_
#define TESTS_HELPERS_PACKAGE_BUILDER_H_

#include <functional>
#include <optional>
#include <string>

#include "tools/packaging/lzma_encoder.h"
#include "tools/packaging/package_writer.h"

namespace packaging {

// A source over `bytes`, which must outlive it.
PieceSource InMemory(const Bytes& bytes);

// A package made in memory, as the tests make them.
struct PackageInput : PackageSettings {
  std::optional<Bytes> program32;
  std::optional<Bytes> program64;
  Bytes setupData;
  // Called with the finished records before they are written; the CRC is
  // computed before the call, so changes to covered bytes break it on purpose
  // unless recomputeCrc is set.
  std::function<void(launcher::PackageLocator&, launcher::PackageHeader&)> adjust;
  bool recomputeCrcAfterAdjust = true;
};

struct BuiltPackage : PackageLayout {
  Bytes bytes;
};

// `data` compressed whole into *out, as CompressLzma1 does in pieces.
bool CompressLzma1(const Bytes& data, const LzmaSettings& settings, Bytes* out, std::string* error);

// Lays out and writes the package in memory. False with *error when the
// input cannot make a package (sizes or offsets at or past 2 GiB,
// compression failure).
bool BuildPackage(const PackageInput& input, BuiltPackage* out, std::string* error);

// Recomputes the CRC over the bytes the locator covers and stores it (in the
// locator record and in the file bytes).
void UpdateCrc(BuiltPackage* package);

// Writes the locator and header records into the file bytes again.
void WriteRecords(BuiltPackage* package);

// Recomputes the CRC over the bytes the locator covers and stores it (in the
// locator record and in the file bytes).
void UpdateCrc(BuiltPackage* package);

// Writes the locator and header records into the file bytes again.
void WriteRecords(BuiltPackage* package);

}  // namespace packaging

#endif  // TESTS_HELPERS_PACKAGE_BUILDER_H_
