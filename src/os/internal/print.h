// The C runtime's printf under os/format.h, which each platform defines.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace os {

// The length of what |format| prints with |args|, its ending zero not counted; not above 0 on a
// failure.
int PrintedLength(const char* format, va_list args);

// Prints |format| with |args| into |buffer| of |size| bytes, cut to fit; a cut text may have no
// ending zero.
void PrintInto(char* buffer, size_t size, const char* format, va_list args);

}  // namespace os
