// printf-style formatting into a text of whatever length it needs, over each platform's printf.
#include "os/format.h"

#include <vector>

#include "os/internal/print.h"

namespace os {

std::string FormatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int n = PrintedLength(format, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::vector<char> buffer(static_cast<size_t>(n) + 1);
  PrintInto(buffer.data(), buffer.size(), format, args);
  return std::string(buffer.data(), static_cast<size_t>(n));
}

void FormatInto(char* out, size_t size, const char* format, ...) {
  if (size == 0) return;
  va_list args;
  va_start(args, format);
  PrintInto(out, size, format, args);
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

}  // namespace os
