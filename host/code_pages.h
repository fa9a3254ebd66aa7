// The ANSI code pages the launcher's messages meet, 1252 (Western) and 932
// (Japanese), as Windows converts them: MultiByteToWideChar, and
// WideCharToMultiByte without flags (best fit, '?' as the default character).
// Code page 932 here knows ASCII and the halfwidth katakana only (no
// double-byte characters). Any other code page: ASCII only.
#ifndef HOST_CODE_PAGES_H_
#define HOST_CODE_PAGES_H_

#include <cstdint>
#include <string>

namespace host {

// The character of one byte (U+FFFD where the code page has none).
char16_t ByteToWide(uint32_t codePage, unsigned char b);
// The byte of one character; -1 when the code page lacks it.
int WideToByte(uint32_t codePage, char16_t w);
// Windows' best fit for a character the code page lacks: Latin letters with
// diacritics become the plain letter, the fullwidth ASCII forms ASCII in
// 1252; -1 where there is none.
int BestFit(uint32_t codePage, char16_t w);
// Whether `b` starts a double-byte character (932 only).
bool IsLeadByte(uint32_t codePage, unsigned char b);

// Whole texts, byte for character.
std::u16string AnsiToWide(uint32_t codePage, const std::string& text);
std::string WideToAnsi(uint32_t codePage, const std::u16string& text);

}  // namespace host

#endif  // HOST_CODE_PAGES_H_
