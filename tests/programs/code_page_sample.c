/* Converts a sample of characters and byte sequences in code pages 1252 and
 * 932 with the system's own functions and writes what came out to the file
 * named by argument 1, one line each:
 *   w PAGE CHAR: BYTES     WideCharToMultiByte(PAGE, 0, ...) of one character
 *   m PAGE BYTES: CHARS    MultiByteToWideChar(PAGE, 0, ...) of one or two bytes
 * The end-to-end tests hold the host's code page tables against it. */
#include <windows.h>
#include <stdio.h>

int main(int argc, char** argv) {
  static const UINT pages[2] = {1252, 932};
  FILE* out;
  int p;
  if (argc < 2 || (out = fopen(argv[1], "wb")) == NULL) return 2;
  for (p = 0; p < 2; ++p) {
    unsigned w, m;
    for (w = 1; w < 0x10000; w += 7) {
      WCHAR c = (WCHAR)w;
      char bytes[8];
      int i, n = WideCharToMultiByte(pages[p], 0, &c, 1, bytes, sizeof bytes, NULL, NULL);
      fprintf(out, "w %u %04X:", pages[p], w);
      for (i = 0; i < n; ++i) fprintf(out, " %02X", (unsigned char)bytes[i]);
      fputc('\n', out);
    }
    for (m = 1; m < 0x10000; m += (m < 0x100 ? 1 : 3)) {
      char bytes[2];
      WCHAR chars[4];
      int i, length = m < 0x100 ? 1 : 2, n;
      if (length == 1) bytes[0] = (char)m;
      else bytes[0] = (char)(m >> 8), bytes[1] = (char)(m & 0xFF);
      n = MultiByteToWideChar(pages[p], 0, bytes, length, chars, 4);
      fprintf(out, length == 1 ? "m %u %02X:" : "m %u %04X:", pages[p], m);
      for (i = 0; i < n; ++i) fprintf(out, " %04X", (unsigned)chars[i]);
      fputc('\n', out);
    }
  }
  fclose(out);
  return 0;
}
