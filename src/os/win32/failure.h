// What the system's answers to failed calls on files mean, shared by the Windows file and folder
// layers.
#pragma once

#include <windows.h>

#include "os/file.h"

namespace os {
namespace win32 {

// What the Win32 error |error| of a failed call means, with the number itself.
Failure FailureOf(DWORD error);

}  // namespace win32
}  // namespace os
