// Folders on Windows: the system's own answers; shell32.dll loaded at run time (see
// system_library.cc).
#include <windows.h>
#include <shlobj.h>

#include "os/known_folders.h"
#include "os/win32/system_library.h"
#include "os/win32/wide_path.h"

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

std::string SystemDirectory() {
  char buffer[MAX_PATH + 1] = {};
  UINT n = GetSystemDirectoryA(buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  return std::string(buffer, n);
}

bool FileExists(const FileLocation& file) {
  DWORD attributes = file.besideLauncher() ? GetFileAttributesW(win32::WidePath(file).data())
                                           : GetFileAttributesA(file.text().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

namespace win32 {
namespace {

// The folder of the running executable, ending in a backslash, without a zero, as
// GetModuleFileNameW gives it: the buffer grows until the path fits, so that it is never cut.
// Empty when it cannot be known.
WideText LauncherDirectory() {
  WideText path(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return WideText();
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    if (path.size() > 0x8000) return WideText();  // past the longest path Windows has
    path.resize(path.size() * 2);
  }
  while (!path.empty() && path.back() != L'\\' && path.back() != L'/') path.pop_back();
  return path;
}

// Appends |text|, converted from the ANSI code page, to |out|.
void AppendWide(const std::string& text, WideText* out) {
  if (text.empty()) return;
  const int length = static_cast<int>(text.size());
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (n <= 0) return;
  size_t at = out->size();
  out->resize(at + static_cast<size_t>(n));
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, out->data() + at, n);
}

}  // namespace

WideText Widen(const std::string& text) {
  WideText wide;
  AppendWide(text, &wide);
  wide.push_back(L'\0');
  return wide;
}

WideText WidePath(const FileLocation& file) {
  WideText path;
  if (file.besideLauncher()) {
    path = LauncherDirectory();
    if (path.empty()) return WideText(1, L'\0');
  }
  AppendWide(file.text(), &path);
  path.push_back(L'\0');
  return path;
}

}  // namespace win32

}  // namespace platform
