// The commands of setup-package and the little they share.
#ifndef TOOLS_PACKAGE_TOOL_COMMANDS_H_
#define TOOLS_PACKAGE_TOOL_COMMANDS_H_

#include <string>
#include <vector>

#include "tools/package/package_writer.h"

namespace tool {

// The words after the command, taken one at a time.
class Arguments {
 public:
  Arguments(int count, char** words) : words_(words, words + count) {}
  bool Done() const { return next_ >= words_.size(); }
  std::string Next() { return words_[next_++]; }
  // The value after an option; false when there is none.
  bool Value(std::string* value) {
    if (Done()) return false;
    *value = Next();
    return true;
  }

 private:
  std::vector<std::string> words_;
  size_t next_ = 0;
};

int Build(Arguments& args);
int Inspect(Arguments& args);
int Verify(Arguments& args);
int Extract(Arguments& args);

// Helpers shared by the commands.

// Reads the words of a command that takes one package: "PACKAGE [--json]"
// (--json only when `json` is given) and --help. Returns -1 when the command
// is to go on with *path and *file, or the exit status to end with (help
// shown, bad words, unreadable file).
int ReadPackageArguments(Arguments& args, const char* usage, bool* json, std::string* path,
                         packaging::Bytes* file);
bool ReadFile(const std::string& path, packaging::Bytes* out);
// Writes under a temporary name and renames, so a failure leaves no half file.
bool WriteFileAtomically(const std::string& path, const packaging::Bytes& bytes);
int Fail(const std::string& message);         // prints "setup-package: message", returns 1
int UsageError(const char* usage);            // prints the usage to stderr, returns 2
std::string JsonString(const std::string& text);

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_COMMANDS_H_
