// Empty option values and the nearest name to a mistyped one.
#include "tools/package_tool/command_line.h"

#include <algorithm>

namespace tool {

namespace {

// The command the arguments go to: the first one that names a command, else
// the tool itself.
CLI::App* CommandOf(CLI::App& app, const std::vector<std::string>& arguments) {
  for (const std::string& word : arguments) {
    if (word == "--") break;
    for (CLI::App* command : app.get_subcommands({})) {
      if (command->get_name() == word) return command;
    }
  }
  return &app;
}

// The long option names a command takes, its own and the tool's.
std::vector<std::string> LongNames(CLI::App& app, CLI::App* command) {
  std::vector<std::string> names;
  for (CLI::App* a : {command, &app}) {
    for (const CLI::Option* option : a->get_options()) {
      for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
    }
  }
  return names;
}

size_t Distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::vector<std::string> WithEmptyValues(CLI::App& app, int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  CLI::App* command = CommandOf(app, arguments);
  std::vector<std::string> out;
  bool options = true;
  for (const std::string& word : arguments) {
    options = options && word != "--";
    const size_t equals = word.find('=');
    const CLI::Option* option = options && word.rfind("--", 0) == 0 && equals == word.size() - 1
                                    ? command->get_option_no_throw(word.substr(0, equals))
                                    : nullptr;
    if (option == nullptr || option->get_expected_max() == 0) {
      out.push_back(word);
      continue;
    }
    out.push_back(word.substr(0, equals));
    out.push_back("");
  }
  return out;
}

std::string Nearest(const std::string& word, const std::vector<std::string>& names) {
  std::string best;
  size_t bestDistance = 3;
  int begun = 0;
  std::string begins;
  for (const std::string& name : names) {
    const size_t d = Distance(word, name);
    if (d < bestDistance) best = name, bestDistance = d;
    if (name.rfind(word, 0) == 0) ++begun, begins = name;
  }
  if (!best.empty()) return best;
  return begun == 1 ? begins : "";
}

std::string DidYouMean(CLI::App& app, const std::vector<std::string>& arguments) {
  CLI::App* command = CommandOf(app, arguments);
  const std::vector<std::string> names = LongNames(app, command);
  for (const std::string& word : arguments) {
    if (word == "--") break;
    if (word.rfind("--", 0) != 0 || word.size() == 2) continue;
    const std::string name = word.substr(0, word.find('='));
    if (std::find(names.begin(), names.end(), name) != names.end()) continue;
    const std::string nearest = Nearest(name, names);
    return nearest.empty() ? "" : " (did you mean " + nearest + "?)";
  }
  return "";
}

}  // namespace tool
