/* For the Windows tool's tests under Wine: "file_holder FILE MILLISECONDS"
 * holds FILE open without sharing it (as a running program or an editor
 * may), creates FILE.held once it does, and lets go after the time. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc != 3) return fprintf(stderr, "usage: file_holder FILE MILLISECONDS\n"), 2;
  HANDLE h = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (h == INVALID_HANDLE_VALUE) return fprintf(stderr, "file_holder: cannot open %s\n", argv[1]), 1;
  char held[MAX_PATH + 8];
  snprintf(held, sizeof held, "%s.held", argv[1]);
  FILE* mark = fopen(held, "wb");
  if (mark != NULL) fclose(mark);
  Sleep((DWORD)atoi(argv[2]));
  CloseHandle(h);
  return 0;
}
