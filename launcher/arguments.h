// The launcher's view of its command line. Argument 0 is the running
// module's full path; arguments 1..count are split from the command line
// the way the setup program will see them again. Nothing is stored: every
// call splits afresh.
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

// On the process's own command line.
int32_t ArgumentCount();
Text Argument(int32_t index);  // 0: own module path; empty past the count

char UpperAscii(char c);
bool EqualsIgnoreCase(const char* a, const char* b);  // only a..z fold
bool EqualsExactly(const char* a, const char* b);

}  // namespace launcher

#endif  // LAUNCHER_ARGUMENTS_H_
