// printf-style formatting by the C runtime of the system, into a text of whatever length it needs.
#pragma once

#include <cstdarg>
#include <string>

#if defined(__MINGW32__)
#define ORVA_PRINTF(f, a) __attribute__((format(ms_printf, f, a)))
#else
#define ORVA_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

namespace base {

std::string FormatV(const char* format, va_list args);
std::string Format(const char* format, ...) ORVA_PRINTF(1, 2);

}  // namespace base
