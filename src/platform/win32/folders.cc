// Folders on Windows: the system's own answers.
#include <windows.h>
#include <shlobj.h>

#include "platform/folders.h"

namespace platform {

bool WindowsDirectory(std::string* out) {
  char buffer[260] = {};
  UINT n = GetWindowsDirectoryA(buffer, 259);
  if (n == 0 || n >= 259) return false;
  out->assign(buffer, n);
  return true;
}

bool DocumentsFolder(std::string* out) {
  char buffer[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_PERSONAL, FALSE)) return false;
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

bool FileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace platform
