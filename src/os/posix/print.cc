// Formatting by the C library's printf.
#include <stdio.h>

#include "os/internal/print.h"

namespace os {

int PrintedLength(const char* format, va_list args) { return vsnprintf(nullptr, 0, format, args); }

void PrintInto(char* buffer, size_t size, const char* format, va_list args) {
  vsnprintf(buffer, size, format, args);
}

}  // namespace os
