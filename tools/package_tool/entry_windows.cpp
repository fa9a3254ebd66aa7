// The program entry on Windows: wide arguments, whatever the console's code
// page, taken into UTF-8 (a lone surrogate keeps a form of its own).
#include <string>
#include <vector>

#include "host/utf.h"
#include "tools/package_tool/commands.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> words;
  for (int i = 0; i < argc; ++i) {
    const std::wstring wide(argv[i]);
    words.push_back(host::Utf16ToWtf8(std::u16string(wide.begin(), wide.end())));
  }
  std::vector<char*> pointers;
  for (std::string& word : words) pointers.push_back(&word[0]);
  pointers.push_back(nullptr);
  return tool::RunTool(argc, pointers.data());
}
