// The package file (TOML) read into build's settings.
#include "tools/package_tool/package_file.h"

#include <sstream>

#include <toml++/toml.h>

#include "host/system/files.h"
#include "tools/package_tool/commands.h"
#include "tools/package_tool/input_files.h"
#include "tools/package_tool/report.h"

namespace tool {

int ReadPackageFile(const std::string& path, BuildSettings* out, std::string* error) {
  packaging::Bytes bytes;
  if (!ReadInputFile(path, &bytes, error)) return kExitInputOutput;
  toml::table table;
  try {
    table = toml::parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), path);
  } catch (const toml::parse_error& e) {
    std::ostringstream s;
    s << path << ":" << e.source().begin.line << ": " << e.description();
    *error = s.str();
    return kExitUsage;
  }
  const std::string base = sys::FolderOf(path);
  for (auto& entry : table) {
    const std::string key(entry.first.str());
    const toml::node& node = entry.second;
    const std::string where = path + ":" + std::to_string(node.source().begin.line) + ": " + Escaped(key) + ": ";
    const OptionRow* row = nullptr;
    for (const OptionRow& r : Options()) {
      if (key == r.name) row = &r;
    }
    if (row == nullptr) return *error = where + "unknown key", kExitUsage;
    std::string value;
    switch (row->kind) {
      case OptionKind::kFlag:
        if (!node.is_boolean()) return *error = where + "takes true or false", kExitUsage;
        out->*row->flag = *node.value<bool>();
        continue;
      case OptionKind::kNumber: {
        if (!node.is_integer()) return *error = where + "takes a whole number", kExitUsage;
        const int64_t v = *node.value<int64_t>();
        const std::string why = v < 0 ? CheckNumber(*row, ~uint64_t(0)) : CheckNumber(*row, uint64_t(v));
        if (!why.empty()) return *error = where + why, kExitUsage;
        out->*row->number = static_cast<uint32_t>(v);
        continue;
      }
      case OptionKind::kVersions:
        if (const toml::array* list = node.as_array()) {
          for (const toml::node& item : *list) {
            if (!item.is_string()) return *error = where + "takes a list of version names", kExitUsage;
            value += (value.empty() ? "" : ",") + *item.value<std::string>();
          }
          out->*row->text = value;
          continue;
        }
        break;
      case OptionKind::kCrcReach:
        if (node.is_integer()) {
          out->*row->text = std::to_string(*node.value<int64_t>());
          continue;
        }
        break;
      default:
        break;
    }
    if (!node.is_string()) return *error = where + "takes a text", kExitUsage;
    value = *node.value<std::string>();
    if (row->kind == OptionKind::kPath && !value.empty() && !sys::IsAbsolute(value)) value = base + "/" + value;
    out->*row->text = value;
  }
  return kExitFine;
}

}  // namespace tool
