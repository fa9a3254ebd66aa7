/* Reads a file's version resource and icons back the way Windows' shell does
   (GetFileVersionInfoW, VerQueryValueW, ExtractIconExW) and writes what it
   finds as "key=value" lines (UTF-8) on standard output:
   version_reader FILE */
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static void PutString(void* block, const wchar_t* key) {
  wchar_t path[128] = L"\\StringFileInfo\\040904B0\\";
  void* value = NULL;
  UINT length = 0;
  char utf8[1024];
  wcscat(path, key);
  if (!VerQueryValueW(block, path, &value, &length)) return;
  WideCharToMultiByte(CP_UTF8, 0, (const wchar_t*)value, -1, utf8, sizeof utf8, NULL, NULL);
  printf("%ls=%s\n", key, utf8);
}

static void PutIconSize(const char* which, HICON icon) {
  ICONINFO info;
  BITMAP bitmap;
  if (icon == NULL || !GetIconInfo(icon, &info)) return;
  GetObject(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
  printf("%s=%ldx%ld\n", which, bitmap.bmWidth, info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2);
}

int main(int argc, char** argv) {
  wchar_t file[MAX_PATH];
  DWORD handle = 0, size;
  void* block;
  VS_FIXEDFILEINFO* fixed = NULL;
  UINT length = 0;
  HICON large = NULL, small = NULL;
  if (argc != 2) return 2;
  MultiByteToWideChar(CP_ACP, 0, argv[1], -1, file, MAX_PATH);
  size = GetFileVersionInfoSizeW(file, &handle);
  block = malloc(size ? size : 1);
  if (size != 0 && GetFileVersionInfoW(file, 0, size, block)) {
    static const wchar_t* keys[] = {L"CompanyName", L"FileDescription", L"FileVersion", L"ProductName",
                                    L"ProductVersion", L"LegalCopyright", L"OriginalFilename"};
    unsigned i;
    for (i = 0; i < sizeof keys / sizeof keys[0]; ++i) PutString(block, keys[i]);
    if (VerQueryValueW(block, L"\\", (void**)&fixed, &length) && fixed != NULL) {
      printf("fixed=%lu.%lu.%lu.%lu\n", fixed->dwFileVersionMS >> 16, fixed->dwFileVersionMS & 0xFFFF,
             fixed->dwFileVersionLS >> 16, fixed->dwFileVersionLS & 0xFFFF);
    }
  }
  printf("icons=%u\n", ExtractIconExW(file, -1, NULL, NULL, 0));
  if (ExtractIconExW(file, 0, &large, &small, 1) > 0) {
    PutIconSize("large", large);
    PutIconSize("small", small);
  }
  return 0;
}
