// The variadic form of the platform's formatting.
#include "base/format.h"

namespace platform {

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  return text;
}

}  // namespace platform
