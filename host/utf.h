// UTF-8 and UTF-16, as the host tools convert between them: messages are
// given as UTF-8 and stored as UTF-16LE; what comes back out must be valid
// UTF-8 whatever the package holds.
#ifndef HOST_UTF_H_
#define HOST_UTF_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace host {

// Strict: false for anything that is not valid UTF-8, overlong forms,
// encoded surrogates and code points past U+10FFFF included.
bool Utf8ToUtf16(const std::string& text, std::u16string* out);

// UTF-16 as valid UTF-8: a lone surrogate becomes U+FFFD, the replacement
// character (where the exact text matters, the UTF-16 goes beside it).
std::string Utf16ToValidUtf8(const std::u16string& text);

// UTF-16 as WTF-8: UTF-8, except that a lone surrogate keeps a three-byte
// form of its own, so that nothing is lost (for text shown escaped).
std::string Utf16ToWtf8(const std::u16string& text);

// Whether the text holds a surrogate that is not one half of a pair.
bool HasLoneSurrogate(const std::u16string& text);

// The code point that starts at `at` in UTF-8 text, and its length in bytes;
// -1 (length 1) for a byte that starts no valid sequence.
int32_t DecodeUtf8(const std::string& text, size_t at, size_t* length);

// Appends code point `c` as UTF-8.
void AppendUtf8(std::string* out, uint32_t c);

}  // namespace host

#endif  // HOST_UTF_H_
