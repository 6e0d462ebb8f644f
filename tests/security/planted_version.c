/* A library planted beside the launcher under the name of the version library: loading it leaves
   the file "planted-version-loaded.txt" beside it, naming the program that loaded it. */
#include <string.h>
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  char path[MAX_PATH + 32], program[MAX_PATH];
  DWORD n, written;
  HANDLE marker;
  char* slash;
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  n = GetModuleFileNameA(self, path, MAX_PATH);
  slash = n > 0 && n < MAX_PATH ? strrchr(path, '\\') : NULL;
  if (slash == NULL) return TRUE;
  lstrcpyA(slash + 1, "planted-version-loaded.txt");
  marker = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, NULL);
  if (marker == INVALID_HANDLE_VALUE) return TRUE;
  n = GetModuleFileNameA(NULL, program, MAX_PATH);
  if (n > 0 && n < MAX_PATH) {
    WriteFile(marker, program, n, &written, NULL);
    WriteFile(marker, "\r\n", 2, &written, NULL);
  }
  CloseHandle(marker);
  return TRUE;
}
