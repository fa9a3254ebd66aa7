/* A DLL that must never be loaded. Copies of it are placed beside a package
 * under the names of DLLs that are not known DLLs; a copy that is loaded
 * leaves "<its own path>.loaded" beside itself. It also exports the one mpr
 * function a launcher might import, so that an image that imports it runs. */
#include <windows.h>

__declspec(dllexport) DWORD WINAPI WNetGetUniversalNameA(LPCSTR path, DWORD level, LPVOID buffer,
                                                         LPDWORD size) {
  (void)path; (void)level; (void)buffer; (void)size;
  return ERROR_NOT_CONNECTED;
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    char marker[MAX_PATH + 16];
    DWORD length = GetModuleFileNameA(self, marker, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      lstrcatA(marker, ".loaded");
      HANDLE h = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
  }
  return TRUE;
}
