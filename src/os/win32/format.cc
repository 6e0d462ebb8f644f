// Formatting on Windows: the system's msvcrt, as Windows programs format, rather than mingw's
// own printf (25 KiB of floating-point conversion the launcher never uses).
#include <stdio.h>

#include <vector>

#include "base/format.h"

namespace platform {

std::string FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int n = _vscprintf(format, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::vector<char> buffer(static_cast<size_t>(n) + 1);
  _vsnprintf(buffer.data(), buffer.size(), format, args);
  return std::string(buffer.data(), static_cast<size_t>(n));
}

}  // namespace platform
