// Functions of system libraries, loaded at run time from the system directory by full path.
#pragma once

#include <string>

namespace os {
namespace win32 {

// The function |name| of the system library |library| (a bare name such as "user32.dll"),
// loaded on first use from the system directory, its own dependencies from there too, and
// never freed; nullptr when either cannot be had.
void* SystemFunction(const char* library, const char* name);

}  // namespace win32
}  // namespace os
