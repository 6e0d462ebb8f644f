// The message box on Windows.
#include <windows.h>

#include "platform/dialog.h"

namespace platform {

int ShowMessageBox(const char* caption, const char* text, unsigned style) {
  return MessageBoxA(nullptr, text, caption, style);
}

}  // namespace platform
