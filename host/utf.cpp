// UTF-8 and UTF-16 conversion, strict one way and lossless the other.
#include "host/utf.h"

#include <cstdio>

namespace host {

bool Utf8ToUtf16(const std::string& s, std::u16string* out) {
  out->clear();
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = s[i];
    uint32_t cp;
    int extra;
    if (c < 0x80) { cp = c; extra = 0; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; extra = 1; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; extra = 2; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; extra = 3; }
    else return false;
    if (i + extra >= s.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      const unsigned char d = s[i + k];
      if ((d & 0xC0) != 0x80) return false;
      cp = cp << 6 | (d & 0x3F);
    }
    i += 1 + extra;
    // An overlong form (C0 AF for "/") is no UTF-8: it would let a text say
    // one thing to a check and another where it is used.
    static const uint32_t kShortest[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kShortest[extra]) return false;
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(cp));
    }
  }
  return true;
}

void AppendUtf8(std::string* out, uint32_t c) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

int32_t DecodeUtf8(const std::string& s, size_t at, size_t* length) {
  const unsigned char b = static_cast<unsigned char>(s[at]);
  size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (n == 0 || at + n > s.size()) return *length = 1, -1;
  int32_t c = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
  for (size_t i = 1; i < n; ++i) {
    const unsigned char t = static_cast<unsigned char>(s[at + i]);
    if ((t >> 6) != 2) return *length = 1, -1;
    c = (c << 6) | (t & 0x3F);
  }
  *length = n;
  return c;
}

namespace {

// UTF-16 as UTF-8, each lone surrogate given to `lone`.
template <typename Lone>
std::string FromUtf16(const std::u16string& text, Lone lone) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      AppendUtf8(&out, 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      lone(&out, c);
    } else {
      AppendUtf8(&out, c);
    }
  }
  return out;
}

}  // namespace

std::string Utf16ToValidUtf8(const std::u16string& text) {
  return FromUtf16(text, [](std::string* out, uint32_t) { AppendUtf8(out, 0xFFFD); });
}

std::string Utf16ToWtf8(const std::u16string& text) {
  return FromUtf16(text, [](std::string* out, uint32_t c) { AppendUtf8(out, c); });
}

bool HasLoneSurrogate(const std::u16string& text) {
  bool lone = false;
  FromUtf16(text, [&](std::string*, uint32_t) { lone = true; });
  return lone;
}

}  // namespace host
