// What the system's answers to failed calls on files mean, shared by the Windows file and folder layers.
#pragma once

#include <windows.h>

#include "os/file.h"

namespace platform {
namespace win32 {

// What the Win32 error |error| of a failed call means, with the number itself.
Failure FailureOf(DWORD error);

// Counts a call on a file at the fault seam: true when it must fail, GetLastError then telling an
// input/output error, as a failing disk would.
bool Struck();

}  // namespace win32
}  // namespace platform
