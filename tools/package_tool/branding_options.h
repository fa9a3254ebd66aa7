// The maker's part of build's options: the version strings, version
// numbers and icon, each checked.
#ifndef TOOLS_PACKAGE_TOOL_BRANDING_OPTIONS_H_
#define TOOLS_PACKAGE_TOOL_BRANDING_OPTIONS_H_

#include <string>

#include "tools/package_tool/build_options.h"
#include "tools/pe/branding.h"

namespace tool {

// The maker's strings, version numbers and icon from the settings, each
// checked: kExitFine, or kExitUsage / kExitInputOutput with a sentence that
// names the option. The original file name is --output's.
int ReadBranding(const BuildSettings& settings, pe::Branding* out, std::string* error);
// The sentence for strings that do not fit a version block: names the
// longest of them.
std::string TooLongForVersionBlock(const BuildSettings& settings);

}  // namespace tool

#endif  // TOOLS_PACKAGE_TOOL_BRANDING_OPTIONS_H_
