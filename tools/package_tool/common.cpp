#include <cstdio>
#include <fstream>
#include <iterator>

#include "tools/package_tool/commands.h"

namespace tool {

bool ReadFile(const std::string& path, packaging::Bytes* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteFileAtomically(const std::string& path, const packaging::Bytes& bytes) {
  const std::string temporary = path + ".partial";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

int ReadPackageArguments(Arguments& args, const char* usage, bool* json, std::string* path,
                         packaging::Bytes* file) {
  while (!args.Done()) {
    const std::string word = args.Next();
    if (word == "--help" || word == "-h") {
      std::fputs(usage, stdout);
      return 0;
    } else if (word == "--json" && json != nullptr) {
      *json = true;
    } else if (path->empty() && !word.empty() && word[0] != '-') {
      *path = word;
    } else {
      return UsageError(usage);
    }
  }
  if (path->empty()) return UsageError(usage);
  if (!ReadFile(*path, file)) return Fail(*path + ": cannot read");
  return -1;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "setup-package: %s\n", message.c_str());
  return 1;
}

int UsageError(const char* usage) {
  std::fputs(usage, stderr);
  return 2;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

}  // namespace tool
