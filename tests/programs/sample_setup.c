/* A small setup program of the project's own, packaged by the sample job
 * and the end-to-end tests. It writes what it received next to the package
 * (argument 1) as "<package>.received.txt": its command line, each argument,
 * its current folder, its own path and whether the package file could be
 * opened exclusively. "/sleep=N" makes it wait N milliseconds first. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  const char* package = argc > 1 ? argv[1] : "sample_setup";
  for (int i = 2; i < argc; ++i) {
    if (strncmp(argv[i], "/sleep=", 7) == 0) Sleep((DWORD)atoi(argv[i] + 7));
  }
  char report[MAX_PATH + 32];
  snprintf(report, sizeof report, "%s.received.txt", package);
  FILE* out = fopen(report, "wb");
  if (out == NULL) return 3;
  char folder[MAX_PATH] = "", self[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof folder, folder);
  GetModuleFileNameA(NULL, self, sizeof self);
  /* Exclusive read: fails while any other handle to the package is open. */
  HANDLE h = CreateFileA(package, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  int exclusive = h != INVALID_HANDLE_VALUE;
  if (exclusive) CloseHandle(h);
  /* Read and write, sharing both: fails only while the package is mapped
     as a running image (the launcher's own process). */
  h = CreateFileA(package, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                  OPEN_EXISTING, 0, NULL);
  int writable = h != INVALID_HANDLE_VALUE;
  if (writable) CloseHandle(h);
  fprintf(out, "bits: %d\n", (int)(sizeof(void*) * 8));
  fprintf(out, "command line: %s\n", GetCommandLineA());
  fprintf(out, "argc: %d\n", argc);
  for (int i = 0; i < argc; ++i) fprintf(out, "argv[%d]: %s\n", i, argv[i]);
  fprintf(out, "current folder: %s\n", folder);
  fprintf(out, "module: %s\n", self);
  fprintf(out, "package opened exclusively: %s\n", exclusive ? "yes" : "no");
  fprintf(out, "package opened for writing: %s\n", writable ? "yes" : "no");
  fclose(out);
  return 0;
}
