// The launcher's texts: appending, converting and comparing.
#include "launcher/text.h"

namespace launcher {

Text DecimalText(uint32_t value) {
  char digits[10];
  int32_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  Text text;
  while (n > 0) text.Append(digits[--n]);
  return text;
}

}  // namespace launcher
