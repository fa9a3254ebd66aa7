#include "tools/package_tool/report.h"

#include <cstdio>

namespace tool {

namespace {

void AppendUtf8(std::string* out, uint32_t c) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The code point that starts at `at` in UTF-8 text (or -1 for a bad byte),
// and its length.
int32_t DecodeUtf8(const std::string& s, size_t at, size_t* length) {
  const unsigned char b = static_cast<unsigned char>(s[at]);
  size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (n == 0 || at + n > s.size()) return *length = 1, -1;
  int32_t c = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
  for (size_t i = 1; i < n; ++i) {
    const unsigned char t = static_cast<unsigned char>(s[at + i]);
    if ((t >> 6) != 2) return *length = 1, -1;
    c = (c << 6) | (t & 0x3F);
  }
  *length = n;
  return c;
}

}  // namespace

std::string Utf16ToValidUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      AppendUtf8(&out, 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04X", c);
      out += buffer;
    } else {
      AppendUtf8(&out, c);
    }
  }
  return out;
}

std::string Escaped(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    size_t length = 1;
    const int32_t c = DecodeUtf8(s, i, &length);
    char buffer[8];
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (c == 0x1B) out += "\\e";
    else if (c < 0) std::snprintf(buffer, sizeof buffer, "\\x%02X", static_cast<unsigned char>(s[i])), out += buffer;
    else if (c < 0x20 || c == 0x7F) std::snprintf(buffer, sizeof buffer, "\\x%02X", c), out += buffer;
    else if (c >= 0x80 && c <= 0x9F) std::snprintf(buffer, sizeof buffer, "\\u%04X", c), out += buffer;
    else out.append(s, i, length);
    i += length;
  }
  return out;
}

std::string Hex64(uint64_t value) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%016llX", static_cast<unsigned long long>(value));
  return buffer;
}

void PrintJson(nlohmann::ordered_json json) {
  nlohmann::ordered_json out;
  out["schemaVersion"] = kJsonSchemaVersion;
  for (auto& [key, value] : json.items()) out[key] = value;
  std::printf("%s\n", out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

}  // namespace tool

#include "tools/package_tool/inspect.h"

namespace tool {

std::string AllowedWords(uint64_t set) {
  std::string words;
  for (const auto& [bit, name] : packaging::VersionNames()) {
    if ((set >> bit) & 1) words += (words.empty() ? "" : ", ") + name;
  }
  return words.empty() ? "none" : words;
}

std::string SetupDataWords(const packaging::PackageView& view) {
  for (const packaging::Region& r : view.regions) {
    if (r.name == "setup data") {
      return "offsets " + std::to_string(r.start) + " .. " + std::to_string(r.end) + " (" +
             std::to_string(r.end - r.start) + " bytes; the header's payload-end field gives the start)";
    }
  }
  return "none";
}

}  // namespace tool
