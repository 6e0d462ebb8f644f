// Every counted step of the seam, told to the watchdog and to the fault seam.
#pragma once

#include <cstdint>

#include "fault/fault.h"

namespace os {

// Marks that a step of |kind| begins, for the watchdog: the run moves on. True when the fault
// seam makes it fail.
bool BeginStep(fault::Op kind);

// The platform's part of the watchdog, which each platform defines.
namespace watchdog {

// A clock in milliseconds that only moves forward (it may wrap).
uint32_t NowMs();
// Runs |body| on a thread of its own, and keeps what CancelBlockedCall needs of the calling one.
bool StartThread(void (*body)());
// Cancels the call that the run's own thread waits in, where the system can.
void CancelBlockedCall();
// Ends the process at once with exit status 0, whatever its other thread holds.
[[noreturn]] void EndRun();

}  // namespace watchdog
}  // namespace os
