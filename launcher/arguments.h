// The launcher's view of its command line. Argument 0 is the running
// module's full path; arguments 1..count are split from the command line
// the way the setup program will see them again. A run splits its command
// line once (ArgumentList) and every later question reads that list, so that
// the scans over all arguments cost time in proportion to the command line.
#ifndef LAUNCHER_ARGUMENTS_H_
#define LAUNCHER_ARGUMENTS_H_

#include <cstdint>

#include "launcher/text.h"

namespace launcher {

// Splits the argument that starts at or after `position` into `*argument`
// (replacing its contents) and returns the position just behind it. At the
// end of the command line `*argument` comes back empty.
const char* SplitNextArgument(const char* position, Text* argument);

// The same rules on a given command line (program-name token included).
int32_t CountArguments(const char* commandLine);
Text ArgumentOf(const char* commandLine, int32_t index);  // index >= 1; empty past the count

// Every argument of a command line (program-name token left out), split once
// and kept until the list is destroyed.
class ArgumentList {
 public:
  explicit ArgumentList(const char* commandLine);
  ~ArgumentList();
  ArgumentList(const ArgumentList&) = delete;
  ArgumentList& operator=(const ArgumentList&) = delete;

  int32_t Count() const { return count_; }
  // Argument `index` (1..Count()); "" for any other index.
  const char* At(int32_t index) const;

 private:
  Text chars_;               // the arguments, each followed by a zero
  int32_t* starts_ = nullptr;  // where argument i + 1 begins in chars_
  int32_t count_ = 0;
  int32_t capacity_ = 0;
};

// Makes `list` the one that ArgumentCount and Argument read for the rest of
// the run (null: none). Without one they split the command line afresh.
void UseArgumentList(const ArgumentList* list);

// On the process's own command line.
int32_t ArgumentCount();
Text Argument(int32_t index);  // 0: own module path; empty past the count

char UpperAscii(char c);
bool EqualsIgnoreCase(const char* a, const char* b);  // only a..z fold
bool EqualsExactly(const char* a, const char* b);

}  // namespace launcher

#endif  // LAUNCHER_ARGUMENTS_H_
