// Formatting by the system's msvcrt, as Windows programs do, rather than mingw's own printf
// (25 KiB of floating-point conversion the launcher never uses).
#include <stdio.h>

#include "os/internal/print.h"

namespace os {

// msvcrt's _vsnprintf gives no length for a null buffer: _vscprintf measures.
int PrintedLength(const char* format, va_list args) { return _vscprintf(format, args); }

void PrintInto(char* buffer, size_t size, const char* format, va_list args) {
  _vsnprintf(buffer, size, format, args);
}

}  // namespace os
