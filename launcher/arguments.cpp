// Splitting the command line as the setup program will, and the launcher's options.
#include "launcher/arguments.h"

#include "platform/platform.h"

namespace launcher {

namespace {

constexpr char kQuote = '"';

bool IsSeparator(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u >= 1 && u <= 32;
}

}  // namespace

const char* SplitNextArgument(const char* p, Text* argument) {
  *argument = Text();
  for (;;) {
    if (IsSeparator(*p)) {
      p = platform::CharNextA(p);
    } else if (p[0] == kQuote && p[1] == kQuote) {
      p += 2;
    } else {
      break;
    }
  }
  bool quoted = false;
  while (*p != 0 && (quoted || !IsSeparator(*p))) {
    const char* next = platform::CharNextA(p);
    if (*p == kQuote) {
      quoted = !quoted;
    } else {
      argument->Append(p, static_cast<int32_t>(next - p));
    }
    p = next;
  }
  return p;
}

int32_t CountArguments(const char* commandLine) {
  Text token;
  const char* p = SplitNextArgument(commandLine, &token);  // the program name
  int32_t count = 0;
  for (;;) {
    p = SplitNextArgument(p, &token);
    if (token.IsEmpty()) return count;
    ++count;
  }
}

Text ArgumentOf(const char* commandLine, int32_t index) {
  Text token;
  const char* p = commandLine;
  for (int32_t i = 0; i <= index; ++i) {
    p = SplitNextArgument(p, &token);
    if (token.IsEmpty()) break;
  }
  return token;
}

namespace {

const ArgumentList* currentList = nullptr;

}  // namespace

ArgumentList::ArgumentList(const char* commandLine) {
  Text token;
  const char* p = SplitNextArgument(commandLine, &token);  // the program name
  for (;;) {
    p = SplitNextArgument(p, &token);
    if (token.IsEmpty()) break;
    if (count_ == capacity_) {
      capacity_ = capacity_ == 0 ? 16 : capacity_ * 2;
      starts_ = static_cast<int32_t*>(support::ResizeMemory(starts_, sizeof(int32_t) * capacity_));
    }
    starts_[count_++] = chars_.Length();
    chars_.Append(token.Chars(), token.Length() + 1);  // with its zero
  }
}

ArgumentList::~ArgumentList() {
  if (currentList == this) currentList = nullptr;
  support::ReleaseMemory(starts_);
}

const char* ArgumentList::At(int32_t index) const {
  if (index < 1 || index > count_) return "";
  return chars_.Chars() + starts_[index - 1];
}

void UseArgumentList(const ArgumentList* list) { currentList = list; }

int32_t ArgumentCount() {
  if (currentList != nullptr) return currentList->Count();
  return CountArguments(platform::GetCommandLineA());
}

Text Argument(int32_t index) {
  if (index == 0) {
    constexpr uint32_t kRoom = 261;
    Text path;
    path.Reserve(kRoom);
    uint32_t n = platform::GetModuleFileNameA(path.MutableChars(), kRoom);
    path.SetLength(n < kRoom ? static_cast<int32_t>(n) : static_cast<int32_t>(kRoom) - 1);
    return path;
  }
  if (index < 0) return Text();
  if (currentList != nullptr) return Text(currentList->At(index));
  return ArgumentOf(platform::GetCommandLineA(), index);
}

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool EqualsIgnoreCase(const char* a, const char* b) {
  if (TextLength(a) != TextLength(b)) return false;
  for (; *a != 0; ++a, ++b) {
    if (UpperAscii(*a) != UpperAscii(*b)) return false;
  }
  return true;
}

bool EqualsExactly(const char* a, const char* b) {
  if (TextLength(a) != TextLength(b)) return false;
  for (; *a != 0; ++a, ++b) {
    if (*a != *b) return false;
  }
  return true;
}

}  // namespace launcher
