// The ANSI code pages the launcher's messages meet, 1252 (Western) and 932
// (Japanese), converted as Windows converts them: MultiByteToWideChar, and
// WideCharToMultiByte without flags (best fit, then the default character).
// The tables come from the code page files Windows' conversion is defined
// by, as Wine ships them (host/code_page_tables.inc, made by
// host/make_code_page_tables.py). Any other code page: ASCII only.
#ifndef HOST_CODE_PAGES_H_
#define HOST_CODE_PAGES_H_

#include <cstdint>
#include <string>
#include <vector>

namespace host {

// The code pages converted as Windows converts them, the tools' default
// (Western, 1252) first; any other is ASCII only.
const std::vector<uint32_t>& CodePages();
constexpr uint32_t kDefaultCodePage = 1252;

// Whether `b` starts a double-byte character in the code page.
bool IsLeadByte(uint32_t codePage, unsigned char b);

// Whole texts. A lead byte without its trail byte (at the end, or before a
// zero byte) becomes the code page's default character; a character the code page lacks (a surrogate too, each
// half) becomes its best fit or the default character ('?').
std::u16string AnsiToWide(uint32_t codePage, const std::string& text);
std::string WideToAnsi(uint32_t codePage, const std::u16string& text);

}  // namespace host

#endif  // HOST_CODE_PAGES_H_
