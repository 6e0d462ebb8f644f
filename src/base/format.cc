// printf-style formatting into a text of whatever length it needs.
#include "base/format.h"

#include <stdio.h>

#include <vector>

namespace base {

namespace {

// Windows formats with the system's msvcrt, as Windows programs do, rather than mingw's own printf
// (25 KiB of floating-point conversion the launcher never uses); msvcrt's _vsnprintf gives no
// length for a null buffer, so the length comes from _vscprintf.
int MeasuredLength(const char* format, va_list args) {
#if defined(_WIN32)
  return _vscprintf(format, args);
#else
  return vsnprintf(nullptr, 0, format, args);
#endif
}

void Print(char* buffer, size_t size, const char* format, va_list args) {
#if defined(_WIN32)
  _vsnprintf(buffer, size, format, args);
#else
  vsnprintf(buffer, size, format, args);
#endif
}

}  // namespace

std::string FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int n = MeasuredLength(format, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::vector<char> buffer(static_cast<size_t>(n) + 1);
  Print(buffer.data(), buffer.size(), format, args);
  return std::string(buffer.data(), static_cast<size_t>(n));
}

void FormatInto(char* out, size_t size, const char* format, ...) {
  if (size == 0) return;
  va_list args;
  va_start(args, format);
  Print(out, size, format, args);
  va_end(args);
  out[size - 1] = '\0';  // msvcrt ends no text that it cuts
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  return text;
}

}  // namespace base
