// Escaped text, JSON and the tool's failure and warning lines.
#include "tools/package_tool/report.h"

#include <cstdio>

#include "host/system/process.h"
#include "host/utf.h"
#include "tools/package_tool/commands.h"

namespace tool {

namespace {

// Unicode's format characters (category Cf): invisible, and some of them
// reorder what follows (U+202E turns the rest of a line around).
bool IsFormatCharacter(int32_t c) {
  return c == 0xAD || (c >= 0x600 && c <= 0x605) || c == 0x61C || c == 0x6DD || c == 0x70F || c == 0x180E ||
         (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x2064) ||
         (c >= 0x2066 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB) ||
         (c >= 0xE0000 && c <= 0xE007F);
}

// Beyond the C0 controls, what never reaches a terminal or a JSON document
// raw: DEL, the C1 controls and the format characters.
bool Unseen(int32_t c) { return c == 0x7F || (c >= 0x80 && c <= 0x9F) || IsFormatCharacter(c); }

}  // namespace

std::string Escaped(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    size_t length = 1;
    const int32_t c = host::DecodeUtf8(s, i, &length);
    char buffer[16];
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (c == 0x1B) out += "\\e";
    else if (c < 0) std::snprintf(buffer, sizeof buffer, "\\x%02X", static_cast<unsigned char>(s[i])), out += buffer;
    else if (c < 0x20 || c == 0x7F) std::snprintf(buffer, sizeof buffer, "\\x%02X", c), out += buffer;
    else if (Unseen(c) || (c >= 0xD800 && c <= 0xDFFF)) {
      std::snprintf(buffer, sizeof buffer, c > 0xFFFF ? "\\U%08X" : "\\u%04X", c), out += buffer;
    } else {
      out.append(s, i, length);
    }
    i += length;
  }
  return out;
}

std::string Hex64(uint64_t value) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%016llX", static_cast<unsigned long long>(value));
  return buffer;
}

std::string JsonText(const nlohmann::ordered_json& json) {
  nlohmann::ordered_json out;
  out["schemaVersion"] = kJsonSchemaVersion;
  for (const auto& [key, value] : json.items()) out[key] = value;
  const std::string text = out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  // Unseen characters only ever stand inside strings: as JSON escapes they
  // mean the same and reach no terminal raw.
  std::string escaped;
  for (size_t i = 0; i < text.size();) {
    size_t length = 1;
    const int32_t c = host::DecodeUtf8(text, i, &length);
    if (Unseen(c)) {
      char buffer[16];
      if (c > 0xFFFF) {
        std::snprintf(buffer, sizeof buffer, "\\u%04x\\u%04x", 0xD800 + ((c - 0x10000) >> 10), 0xDC00 + (c & 0x3FF));
      } else {
        std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
      }
      escaped += buffer;
    } else {
      escaped.append(text, i, length);
    }
    i += length;
  }
  return escaped;
}

void PrintJson(nlohmann::ordered_json json) {
  JsonStarted();
  std::fputs(JsonText(json).c_str(), stdout);
}

namespace {

// With --json, a call that fails before it printed its document still
// prints one: {"schemaVersion", "error", "exitStatus"}. Only the first
// failure is printed.
bool jsonErrors = false;

}  // namespace

void FailAsJson() { jsonErrors = true; }
void JsonStarted() { jsonErrors = false; }
bool JsonErrorPending() { return jsonErrors; }

int Fail(int code, const std::string& message) {
  // Messages quote paths, arguments and package-file text: all escaped.
  std::fprintf(stderr, "setup-package: %s\n", Escaped(message).c_str());
  if (jsonErrors && code != kExitFine) {
    PrintJson({{"error", message}, {"exitStatus", code}});
    jsonErrors = false;
  }
  return code;
}

bool ShowsProgress(const Common& common) {
  return !common.quiet && (common.verbose || sys::ErrorIsTerminal());
}

void Say(const Common& common, const std::string& line) {
  if (common.verbose && !common.quiet) std::fprintf(stderr, "%s\n", Escaped(line).c_str());
}

void Warn(const Common& common, const std::string& message) {
  if (!common.quiet) std::fprintf(stderr, "warning: %s\n", Escaped(message).c_str());
}

}  // namespace tool
