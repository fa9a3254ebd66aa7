// Text from packages as the tool prints it: messages are data, so control
// characters are shown escaped on a terminal, and JSON gets valid UTF-8.
#ifndef TOOLS_PACKAGE_TOOL_REPORT_H_
#define TOOLS_PACKAGE_TOOL_REPORT_H_

#include <string>

#include <nlohmann/json.hpp>

#include "host/utf.h"

namespace tool {

// The version of the JSON that --json prints; raised when a field changes
// meaning or goes away (new fields do not raise it).
constexpr int kJsonSchemaVersion = 1;

// UTF-8 for a terminal: C0 and C1 control characters and DEL shown as
// \n, \r, \t, \e or \xNN, format characters (U+202E and the like) as \uNNNN
// (a backslash stays a backslash, so escaping twice changes nothing).
std::string Escaped(const std::string& utf8);

// A 64-bit set as "0x" and 16 hex digits (JSON readers round larger numbers).
std::string Hex64(uint64_t value);

// Prints `json` (with "schemaVersion" added first) on standard output.
void PrintJson(nlohmann::ordered_json json);
// The text PrintJson prints.
std::string JsonText(const nlohmann::ordered_json& json);

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_REPORT_H_
