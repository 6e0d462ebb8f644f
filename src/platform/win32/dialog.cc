// The message box on Windows, from user32.dll loaded at run time (see system_library.cc).
#include <windows.h>

#include "platform/dialog.h"
#include "platform/win32/system_library.h"

namespace platform {

int ShowMessageBox(const char* caption, const char* text, unsigned style) {
  typedef int(WINAPI * MessageBoxFn)(HWND, LPCSTR, LPCSTR, UINT);
  static const MessageBoxFn show =
      reinterpret_cast<MessageBoxFn>(win32::SystemFunction("user32.dll", "MessageBoxA"));
  return show ? show(nullptr, text, caption, style) : 0;  // 0: the box could not be shown
}

}  // namespace platform
