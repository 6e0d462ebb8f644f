// printf-style formatting by the C runtime of the system, into a text of whatever length it needs,
// or into storage of the caller's.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

#if defined(__MINGW32__)
#define ORVA_PRINTF(f, a) __attribute__((format(ms_printf, f, a)))
#else
#define ORVA_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

namespace os {

std::string FormatV(const char* format, va_list args);
std::string Format(const char* format, ...) ORVA_PRINTF(1, 2);

// The same into |out| of |size| bytes, cut to fit and always ended by a zero, without allocating.
void FormatInto(char* out, size_t size, const char* format, ...) ORVA_PRINTF(3, 4);

}  // namespace os
