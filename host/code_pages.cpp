// The code page conversions, table lookups as Windows does them.
#include "host/code_pages.h"

#include <algorithm>
#include <cstddef>

namespace host {

namespace {

struct CodePair {
  uint16_t from, to;
};

struct CodePageTables {
  uint32_t codePage;
  uint8_t defaultChar;   // for a character the code page lacks
  uint16_t uniDefault;   // for a byte sequence without a character
  const uint16_t* toWide;  // single bytes
  const uint8_t (*leadRanges)[2];
  int leadRangeCount;
  const CodePair* doubleToWide;  // lead << 8 | trail -> character, sorted
  size_t doubleCount;
  const CodePair* fromWide;  // character -> byte or lead << 8 | trail, sorted
  size_t fromWideCount;
};

#include "host/code_page_tables.inc"

// Every code page with tables, the default first.
const CodePageTables* const kAllTables[] = {&kTables1252, &kTables932};

const CodePageTables* TablesOf(uint32_t codePage) {
  for (const CodePageTables* tables : kAllTables) {
    if (tables->codePage == codePage) return tables;
  }
  return nullptr;
}

// The pair for `key` in a sorted table, or null.
const CodePair* Find(const CodePair* table, size_t count, uint16_t key) {
  const CodePair* end = table + count;
  const CodePair* at = std::lower_bound(table, end, key, [](const CodePair& p, uint16_t k) { return p.from < k; });
  return at != end && at->from == key ? at : nullptr;
}

}  // namespace

const std::vector<uint32_t>& CodePages() {
  static const std::vector<uint32_t> pages = [] {
    std::vector<uint32_t> all;
    for (const CodePageTables* tables : kAllTables) all.push_back(tables->codePage);
    return all;
  }();
  return pages;
}

bool IsLeadByte(uint32_t codePage, unsigned char b) {
  const CodePageTables* t = TablesOf(codePage);
  if (t == nullptr) return false;
  for (int i = 0; i < t->leadRangeCount; ++i) {
    if (b >= t->leadRanges[i][0] && b <= t->leadRanges[i][1]) return true;
  }
  return false;
}

std::u16string AnsiToWide(uint32_t codePage, const std::string& text) {
  const CodePageTables* t = TablesOf(codePage);
  std::u16string wide;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (t == nullptr) {
      wide += b < 0x80 ? char16_t(b) : char16_t(0xFFFD);
    } else if (!IsLeadByte(codePage, b)) {
      wide += static_cast<char16_t>(t->toWide[b]);
    } else if (i + 1 < text.size() && text[i + 1] != 0) {
      // (A zero byte is never a trail byte: the lead byte stands alone.)
      const uint16_t code = static_cast<uint16_t>(b << 8 | static_cast<unsigned char>(text[++i]));
      const CodePair* p = Find(t->doubleToWide, t->doubleCount, code);
      wide += static_cast<char16_t>(p != nullptr ? p->to : t->uniDefault);
    } else {
      wide += static_cast<char16_t>(t->uniDefault);
    }
  }
  return wide;
}

std::string WideToAnsi(uint32_t codePage, const std::u16string& text) {
  const CodePageTables* t = TablesOf(codePage);
  std::string ansi;
  for (const char16_t w : text) {
    if (t == nullptr) {
      ansi += w < 0x80 ? static_cast<char>(w) : '?';
      continue;
    }
    if (w < 0x80 && t->toWide[w] == w) {  // ASCII, as most text is: no search
      ansi += static_cast<char>(w);
      continue;
    }
    const CodePair* p = Find(t->fromWide, t->fromWideCount, static_cast<uint16_t>(w));
    const uint16_t code = p != nullptr ? p->to : t->defaultChar;
    if (code > 0xFF) ansi += static_cast<char>(code >> 8);
    ansi += static_cast<char>(code & 0xFF);
  }
  return ansi;
}

}  // namespace host
