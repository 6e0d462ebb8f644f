// Folders on Windows: the system's own answers; shell32.dll loaded at run time (see
// system_library.cc).
#include <windows.h>
#include <shlobj.h>

#include "os/known_folders.h"
#include "os/internal/access.h"
#include "os/internal/known_folders.h"
#include "os/win32/system_library.h"
#include "os/win32/wide_path.h"

namespace os {

using internal::FileLocationAccess;

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

std::string SystemDirectory() {
  char buffer[MAX_PATH + 1] = {};
  UINT n = GetSystemDirectoryA(buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  return std::string(buffer, n);
}

bool FileExists(const FileLocation& file) {
  DWORD attributes = FileLocationAccess::besideLauncher(file)
                         ? GetFileAttributesW(win32::WidePath(file).data())
                         : GetFileAttributesA(FileLocationAccess::text(file).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace os
