#include "tests/helpers/relay_trace.h"

#include <sstream>

namespace relay {

namespace {

// One quoted C-style string of a relay line, starting at the opening quote.
std::string Unescape(const std::string& line, size_t* at) {
  std::string out;
  size_t i = *at + 1;
  for (; i < line.size() && line[i] != '"'; ++i) {
    if (line[i] != '\\' || i + 1 >= line.size()) {
      out += line[i];
      continue;
    }
    const char e = line[++i];
    switch (e) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'x': {
        out += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
        i += 2;
        break;
      }
      default:
        if (e >= '0' && e <= '7') {
          size_t k = 0;
          int v = 0;
          while (k < 3 && i + k < line.size() && line[i + k] >= '0' && line[i + k] <= '7') {
            v = v * 8 + (line[i + k] - '0');
            ++k;
          }
          out += static_cast<char>(v);
          i += k - 1;
        } else {
          out += e;
        }
    }
  }
  *at = i + 1;
  return out;
}

}  // namespace

std::vector<Box> ParseBoxes(const std::string& trace) {
  std::vector<Box> boxes;
  std::istringstream lines(trace);
  std::string line;
  const std::string call = "Call user32.MessageBoxA(";
  while (std::getline(lines, line)) {
    size_t p = line.find(call);
    if (p == std::string::npos) continue;
    Box box;
    size_t q = line.find('"', p);
    if (q == std::string::npos) continue;
    box.text = Unescape(line, &q);
    if (line.compare(q, 3, "...") == 0) q += 3;
    size_t r = line.find('"', q);
    if (r == std::string::npos) continue;
    box.caption = Unescape(line, &r);
    size_t comma = line.find(',', r);
    if (comma != std::string::npos) box.flags = static_cast<uint32_t>(std::stoul(line.substr(comma + 1, 8), nullptr, 16));
    boxes.push_back(box);
  }
  return boxes;
}


bool ShownAs(const std::string& shown, const std::string& expected) {
  if (shown == expected) return true;
  return shown.size() >= 200 && expected.compare(0, shown.size(), shown) == 0;
}

}  // namespace relay
