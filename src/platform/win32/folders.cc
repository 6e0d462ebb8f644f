// Folders on Windows: the system's own answers; shell32.dll loaded at run time (see
// system_library.cc).
#include <windows.h>
#include <shlobj.h>

#include "platform/folders.h"
#include "platform/win32/system_library.h"

namespace platform {

bool WindowsDirectory(std::string* out) {
  char buffer[260] = {};
  UINT n = GetWindowsDirectoryA(buffer, 259);
  if (n == 0 || n >= 259) return false;
  out->assign(buffer, n);
  return true;
}

bool DocumentsFolder(std::string* out) {
  typedef BOOL(WINAPI * FolderPathFn)(HWND, LPSTR, int, BOOL);
  static const FolderPathFn folderPath = reinterpret_cast<FolderPathFn>(
      win32::SystemFunction("shell32.dll", "SHGetSpecialFolderPathA"));
  char buffer[MAX_PATH] = {};
  if (folderPath == nullptr || !folderPath(nullptr, buffer, CSIDL_PERSONAL, FALSE)) return false;
  out->assign(buffer);
  return true;
}

std::string LauncherDirectory() {
  char buffer[MAX_PATH + 1] = {};
  DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  std::string path(buffer, n);
  return path.substr(0, path.find_last_of("\\/") + 1);
}

std::string SystemDirectory() {
  char buffer[MAX_PATH + 1] = {};
  UINT n = GetSystemDirectoryA(buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  return std::string(buffer, n);
}

bool FileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace platform
