// The watchdog's rules, the same on both platforms over a thread and a clock of each.
#include "os/watchdog.h"

#include <atomic>
#include <cstdint>

#include "os/folder.h"
#include "os/internal/step.h"
#include "fault/fault.h"

namespace os {
namespace {

// How often the watchdog looks.
const unsigned kLookEveryMs = 50;

// Shared between the run's thread, which writes them, and the watchdog's.
std::atomic<uint32_t> g_stepBegan{0};
std::atomic<int> g_lastStep{-1};
std::atomic<int> g_unboundedWaits{0};
std::atomic<int> g_cancelledStep{-1};
std::atomic<bool> g_watching{false};
RunStalled g_stalled = nullptr;
unsigned g_patienceMs = kStepPatienceMs;

const char* StepName(int kind) { return kind >= 0 ? fault::kOpNames[kind] : "start-up"; }

// Whether the run has moved on since the step that began at |began|, or waits for its installer
// or its administrator.
bool MovedOn(uint32_t began) { return g_stepBegan.load() != began || g_unboundedWaits.load() > 0; }

// Waits up to |milliseconds| for the run to move on from |began|; true when it did.
bool WaitToMoveOn(uint32_t began, unsigned milliseconds) {
  for (unsigned waited = 0; waited < milliseconds; waited += kLookEveryMs) {
    Pause(kLookEveryMs);
    if (MovedOn(began)) return true;
  }
  return false;
}

// The watchdog's thread: cancels what holds the run up past its patience, and ends the run when
// even that does not let it move on.
void Watch() {
  for (;;) {
    const uint32_t began = g_stepBegan.load();
    if (g_unboundedWaits.load() > 0 || watchdog::NowMs() - began < g_patienceMs) {
      Pause(kLookEveryMs);
      continue;
    }
    const int step = g_lastStep.load();
    g_cancelledStep.store(step);
    fault::ReleaseStall();
    watchdog::CancelBlockedCall();
    if (WaitToMoveOn(began, g_patienceMs / 4)) continue;
    g_stalled(StepName(step), (g_patienceMs + g_patienceMs / 4) / 1000);
    watchdog::EndRun();
  }
}

}  // namespace

bool BeginStep(fault::Op kind) {
  g_lastStep.store(static_cast<int>(kind));
  g_stepBegan.store(watchdog::NowMs());
  return fault::Strike(kind);
}

void WatchSteps(RunStalled stalled) {
  if (g_watching.exchange(true)) return;
  g_stalled = stalled;
  g_patienceMs = fault::Patience(kStepPatienceMs);
  g_stepBegan.store(watchdog::NowMs());
  // Without a thread, the run is as it always was: its steps are not bounded.
  (void)watchdog::StartThread(&Watch);
}

const char* CancelledStep() {
  const int step = g_cancelledStep.load();
  return step >= 0 ? StepName(step) : nullptr;
}

unsigned PatienceSeconds() { return g_patienceMs / 1000; }

UnboundedWait::UnboundedWait() { g_unboundedWaits.fetch_add(1); }

UnboundedWait::~UnboundedWait() {
  // The wait's end counts as a step: the patience starts again from here.
  g_stepBegan.store(watchdog::NowMs());
  g_unboundedWaits.fetch_sub(1);
}

}  // namespace os
