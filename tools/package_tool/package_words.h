// Words for package fields, shared by inspect and verify.
#ifndef TOOLS_PACKAGE_TOOL_PACKAGE_WORDS_H_
#define TOOLS_PACKAGE_TOOL_PACKAGE_WORDS_H_

#include <string>

#include "tools/packaging/package_reader.h"

namespace tool {

// The allowed versions by name, or "none".
std::string AllowedWords(uint64_t set);

// Where the setup data lies, for setup-program authors.
std::string SetupDataWords(const packaging::PackageView& view);

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_PACKAGE_WORDS_H_
