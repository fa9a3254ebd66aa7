// Growable, always zero-terminated texts over the launcher's memory: 8-bit
// ANSI texts (`Text`) and UTF-16 texts (`WideText`). They stand in for
// std::string, which the shipped executable cannot afford.
#ifndef LAUNCHER_TEXT_H_
#define LAUNCHER_TEXT_H_

#include <cstdint>

#include "support/memory.h"

namespace launcher {

template <typename Char>
int32_t TextLength(const Char* text) {
  int32_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

template <typename Char>
class BasicText {
 public:
  using CharType = Char;
  BasicText() = default;
  BasicText(const Char* text) { Append(text); }  // NOLINT: implicit on purpose
  BasicText(const Char* text, int32_t length) { Append(text, length); }
  BasicText(const BasicText& other) { Append(other.Chars(), other.Length()); }
  BasicText(BasicText&& other) noexcept
      : chars_(other.chars_), length_(other.length_), capacity_(other.capacity_) {
    other.chars_ = nullptr;
    other.length_ = other.capacity_ = 0;
  }
  BasicText& operator=(BasicText other) noexcept {
    Swap(other);
    return *this;
  }
  ~BasicText() { support::ReleaseMemory(chars_); }

  // Never null: an empty text gives "".
  const Char* Chars() const { return chars_ != nullptr ? chars_ : kEmpty; }
  Char* MutableChars() { return chars_; }
  int32_t Length() const { return length_; }
  bool IsEmpty() const { return length_ == 0; }
  Char operator[](int32_t index) const { return chars_[index]; }
  Char Last() const { return length_ > 0 ? chars_[length_ - 1] : Char(0); }

  void Append(const Char* text) { Append(text, TextLength(text)); }
  void Append(const BasicText& text) { Append(text.Chars(), text.Length()); }
  void Append(Char c) { Append(&c, 1); }
  void Append(const Char* text, int32_t length) { Replace(length_, 0, text, length); }

  // Replaces `count` characters at `at` with `length` characters of `text`.
  void Replace(int32_t at, int32_t count, const Char* text, int32_t length) {
    int32_t newLength = length_ - count + length;
    Reserve(newLength);
    Char* tail = chars_ + at + count;
    int32_t tailLength = length_ - at - count;
    MoveChars(chars_ + at + length, tail, tailLength);
    for (int32_t i = 0; i < length; ++i) chars_[at + i] = text[i];
    length_ = newLength;
    chars_[length_] = 0;
  }

  // First position of `needle` at or after `from`, or -1.
  int32_t Find(const Char* needle, int32_t needleLength, int32_t from = 0) const {
    for (int32_t p = from; p + needleLength <= length_; ++p) {
      int32_t i = 0;
      while (i < needleLength && chars_[p + i] == needle[i]) ++i;
      if (i == needleLength) return p;
    }
    return -1;
  }

  // Sets the length to `length` after the caller wrote the characters
  // directly into a block of at least that size (see Reserve).
  void SetLength(int32_t length) {
    length_ = length;
    chars_[length_] = 0;
  }
  // Makes room for `length` characters and the terminating zero.
  void Reserve(int32_t length) {
    if (length < capacity_) return;
    int32_t capacity = capacity_ * 2 > length + 1 ? capacity_ * 2 : length + 1;
    chars_ = static_cast<Char*>(support::ResizeMemory(chars_, sizeof(Char) * capacity));
    if (capacity_ == 0) chars_[0] = 0;
    capacity_ = capacity;
  }

 private:
  static constexpr Char kEmpty[1] = {0};

  static void MoveChars(Char* to, const Char* from, int32_t count) {
    if (to < from) {
      for (int32_t i = 0; i < count; ++i) to[i] = from[i];
    } else {
      for (int32_t i = count - 1; i >= 0; --i) to[i] = from[i];
    }
  }
  void Swap(BasicText& other) {
    Char* c = chars_;
    chars_ = other.chars_;
    other.chars_ = c;
    int32_t l = length_;
    length_ = other.length_;
    other.length_ = l;
    int32_t k = capacity_;
    capacity_ = other.capacity_;
    other.capacity_ = k;
  }

  Char* chars_ = nullptr;
  int32_t length_ = 0;
  int32_t capacity_ = 0;
};

using Text = BasicText<char>;
using WideText = BasicText<char16_t>;

// Replaces every occurrence of `placeholder` in one pass that appends to a
// new text: each search goes on from the last replacement, and each
// character is copied once (replacing in place moved the rest of the text
// for every placeholder: seconds for a long message full of them). Where a
// replacement could complete a placeholder with what follows it, that new
// placeholder stays as it is.
template <typename AnyText>
void ReplaceAll(AnyText* text, const typename AnyText::CharType* placeholder, const AnyText& replacement) {
  const int32_t n = TextLength(placeholder);
  AnyText result;
  int32_t from = 0;
  for (int32_t p = text->Find(placeholder, n); p >= 0; p = text->Find(placeholder, n, from)) {
    result.Append(text->Chars() + from, p - from);
    result.Append(replacement);
    from = p + n;
  }
  result.Append(text->Chars() + from, text->Length() - from);
  *text = static_cast<AnyText&&>(result);
}

// Decimal digits of `value`, no sign and no leading zeros.
Text DecimalText(uint32_t value);

}  // namespace launcher

#endif  // LAUNCHER_TEXT_H_
