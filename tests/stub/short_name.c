/* The system's 8.3 short name of an existing file or folder: short_name PATH prints
   GetShortPathNameW of PATH, in the ANSI code page, as an administrator's registry might give it. */
#include <stdio.h>
#include <windows.h>

int main(int argc, char** argv) {
  wchar_t path[MAX_PATH];
  wchar_t shortened[MAX_PATH];
  char printed[MAX_PATH * 2];
  DWORD length;
  if (argc != 2 || !MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path, MAX_PATH)) {
    fputs("usage: short_name PATH\n", stderr);
    return 2;
  }
  length = GetShortPathNameW(path, shortened, MAX_PATH);
  if (length == 0 || length >= MAX_PATH ||
      !WideCharToMultiByte(CP_ACP, 0, shortened, -1, printed, sizeof(printed), NULL, NULL)) {
    return 1;
  }
  puts(printed);
  return 0;
}
