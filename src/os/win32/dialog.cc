// The message box on Windows, from user32.dll loaded at run time (see system_library.cc).
#include <windows.h>

#include "os/dialog.h"
#include "os/win32/system_library.h"

namespace os {

namespace {

// Whether the process's window station is shown to a user (WinSta0 of a logged-on session). A
// station that cannot be asked counts as unseen: a box there might wait for ever.
bool StationVisible() {
  typedef HWINSTA(WINAPI * GetStationFn)();
  typedef BOOL(WINAPI * GetInformationFn)(HANDLE, int, PVOID, DWORD, LPDWORD);
  static const GetStationFn station = reinterpret_cast<GetStationFn>(
      win32::SystemFunction("user32.dll", "GetProcessWindowStation"));
  static const GetInformationFn information = reinterpret_cast<GetInformationFn>(
      win32::SystemFunction("user32.dll", "GetUserObjectInformationW"));
  if (station == nullptr || information == nullptr) return false;
  HWINSTA current = station();  // not to be closed
  USEROBJECTFLAGS flags = {};
  DWORD needed = 0;
  if (current == nullptr || !information(current, UOI_FLAGS, &flags, sizeof flags, &needed))
    return false;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace

int ShowMessageBox(const char* caption, const char* text, unsigned style) {
  typedef int(WINAPI * MessageBoxFn)(HWND, LPCSTR, LPCSTR, UINT);
  static const MessageBoxFn show =
      reinterpret_cast<MessageBoxFn>(win32::SystemFunction("user32.dll", "MessageBoxA"));
  if (show == nullptr || !StationVisible()) return 0;
  return show(nullptr, text, caption, style);
}

}  // namespace os
