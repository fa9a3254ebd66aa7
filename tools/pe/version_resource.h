// The version resource of a PE image as the package tool reads and writes
// it: the fixed version numbers and one table of strings.
#ifndef TOOLS_PE_VERSION_RESOURCE_H_
#define TOOLS_PE_VERSION_RESOURCE_H_

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host/bytes.h"

namespace pe {

// A version as Windows keeps it: four numbers of 16 bits, the most
// significant first.
using VersionNumber = std::array<uint16_t, 4>;

// "A", "A.B", "A.B.C" or "A.B.C.D", each 0..65535, missing ones 0. False with
// what is wrong in *why.
bool ParseVersionNumber(const std::string& text, VersionNumber* out, std::string* why);
std::string VersionText(const VersionNumber& v);  // "A.B.C.D"

// A version resource: the fixed numbers and the strings of its string table,
// in the order they stand.
struct VersionInfo {
  VersionNumber fileVersion{}, productVersion{};
  std::vector<std::pair<std::string, std::u16string>> strings;
  // The string named `key`, or null.
  const std::u16string* Find(const std::string& key) const;
};
// False when `block` is no version resource this tool can read.
bool ReadVersionInfo(host::ByteView block, VersionInfo* out);
// The resource's bytes: one string table, 040904B0 (US English, Unicode), and
// the translation 0x409, 1200. Empty when the strings do not fit the 65535
// bytes a version block can hold.
std::vector<uint8_t> VersionInfoBytes(const VersionInfo& info);

}  // namespace pe

#endif  // TOOLS_PE_VERSION_RESOURCE_H_
