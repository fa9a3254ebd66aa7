#include "host/code_pages.h"

namespace host {

namespace {

// Windows-1252 bytes 0x80..0x9F; the rest of the code page is Latin-1.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Best fit: the plain letter for each Latin letter with diacritics.
const char kBestFitLatin1[] = "AAAAAA?CEEEEIIIIDNOOOOO?OUUUUY??aaaaaa?ceeeeiiii?nooooo?ouuuuy?y";  // U+00C0..
const char kBestFitLatinA[] =
    "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIi??JjKk?LlLlLl??LlNnNnNn???OoOoOo??RrRrRrSsSsSsSsTtTtTt"
    "UuUuUuUuUuUuWwYyYZzZzZz?";  // U+0100..U+017F

}  // namespace

char16_t ByteToWide(uint32_t codePage, unsigned char b) {
  if (b < 0x80) return b;
  if (codePage == 932 && b >= 0xA1 && b <= 0xDF) return static_cast<char16_t>(0xFF61 + (b - 0xA1));
  if (codePage != 1252) return 0xFFFD;
  if (b < 0xA0) return kCp1252High[b - 0x80];
  return b;
}

int WideToByte(uint32_t codePage, char16_t w) {
  if (w < 0x80) return w;
  if (codePage == 932 && w >= 0xFF61 && w <= 0xFF9F) return 0xA1 + (w - 0xFF61);
  if (codePage != 1252) return -1;
  if (w >= 0xA0 && w <= 0xFF) return w;
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == w) return 0x80 + i;
  }
  return -1;
}

int BestFit(uint32_t codePage, char16_t w) {
  char c = '?';
  if (w >= 0x00C0 && w <= 0x00FF && codePage == 932) c = kBestFitLatin1[w - 0x00C0];
  if (w >= 0x0100 && w <= 0x017F) c = kBestFitLatinA[w - 0x0100];
  if (w >= 0xFF01 && w <= 0xFF5E && codePage == 1252) c = static_cast<char>(w - 0xFF01 + 0x21);
  return c == '?' ? -1 : c;
}

bool IsLeadByte(uint32_t codePage, unsigned char b) {
  return codePage == 932 && ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC));
}

std::u16string AnsiToWide(uint32_t codePage, const std::string& text) {
  std::u16string wide;
  for (const char c : text) wide += ByteToWide(codePage, static_cast<unsigned char>(c));
  return wide;
}

std::string WideToAnsi(uint32_t codePage, const std::u16string& text) {
  std::string ansi;
  for (const char16_t w : text) {
    // A surrogate pair is two code units, each the default character.
    int b = WideToByte(codePage, w);
    if (b < 0) b = BestFit(codePage, w);
    ansi += b < 0 ? '?' : static_cast<char>(b);
  }
  return ansi;
}

}  // namespace host
