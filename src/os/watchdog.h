// The watchdog: no call that another program can hold up keeps a run from ending.
#pragma once

namespace os {

// How long a run waits for any one step of its work before the watchdog steps in: longer than
// the update lock's minute and than reading the largest file on a slow disk, short enough that
// a fleet tool sees the run end.
constexpr unsigned kStepPatienceMs = 2 * 60 * 1000;

// Told, on the watchdog's thread, that the run is to be ended: |lastStep| names the last step
// that began (open, read, rename, ...), none of which began for |seconds|. It writes the run's
// event, if the run has not written it yet, and returns; the run then ends with exit status 0.
using RunStalled = void (*)(const char* lastStep, unsigned seconds);

// Watches the run's steps from a thread of its own, from now on. When no step of the seam begins
// for the patience (outside an UnboundedWait), the step that holds the run up is cancelled, as
// the system cancels a call that waits: it then fails, and the run goes on. When still no step
// begins for a quarter of the patience more, |stalled| is told and the run ends. Once only.
void WatchSteps(RunStalled stalled);

// The last step that began before the watchdog cancelled what held the run up, or null.
const char* CancelledStep();

// The patience in whole seconds, as the run's event tells it.
unsigned PatienceSeconds();

// A wait that only the administrator or the installer ends, which the watchdog leaves alone while
// this object lives: the installer's run, a message box.
class UnboundedWait {
 public:
  UnboundedWait();
  ~UnboundedWait();
  UnboundedWait(const UnboundedWait&) = delete;
  UnboundedWait& operator=(const UnboundedWait&) = delete;
};

}  // namespace os
