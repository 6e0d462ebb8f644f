// UTF-16 texts and paths on Windows: the one conversion from the ANSI code page.
#include "os/win32/wide_path.h"

#include <windows.h>

#include "os/internal/access.h"

namespace os {
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

WideText Widen(const std::string& text) { return Terminated(Wide(text)); }

Text Wide(const std::string& text) {
  Text wide;
  AppendWide(text, &wide);
  return wide;
}

Text Terminated(Text text) {
  text.push_back(L'\0');
  return text;
}

WideText WidePath(const FileLocation& file) {
  WideText path;
  if (internal::FileLocationAccess::besideLauncher(file)) {
    path = LauncherDirectory();
    if (path.empty()) return WideText(1, L'\0');
  }
  AppendWide(internal::FileLocationAccess::text(file), &path);
  path.push_back(L'\0');
  return path;
}

}  // namespace win32

}  // namespace os
