// What the system's answers to failed calls on files mean, shared by the Windows file and folder layers.
#pragma once

#include <windows.h>

#include "os/file.h"
#include "testing/fault.h"

namespace os {
namespace win32 {

// What the Win32 error |error| of a failed call means, with the number itself.
Failure FailureOf(DWORD error);

// Counts a call of |kind| on a file at the fault seam: true when it must fail, GetLastError then
// telling an input/output error, as a failing disk would. Inline, so that in the shipped program
// it is gone with the seam.
inline bool Struck(testing::Op kind) {
  if (!testing::Strike(kind)) return false;
  SetLastError(ERROR_IO_DEVICE);
  return true;
}

}  // namespace win32
}  // namespace os
