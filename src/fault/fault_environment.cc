// The test launcher's fault seam, armed from the environment for tests of whole runs.
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "fault/fault.h"

namespace {

// A decimal count with an optional '+' after it; false for anything else.
bool ParseSetting(const char* text, int* nth, bool* persistent) {
  long value = 0;
  const char* p = text;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > INT_MAX) return false;
  }
  *persistent = *p == '+';
  if (p == text || p[*persistent ? 1 : 0] != '\0') return false;
  *nth = static_cast<int>(value);
  return true;
}

// Arms the fault seam of the test launcher from the environment, for one run.
// ORVAPATCH_FAULT="N" makes the Nth counted operation of the run fail, "N+" that one and every
// later one, "0" only counts; ORVAPATCH_STALL="N" makes the Nth never return until the watchdog
// cancels it, "N+" not even then; ORVAPATCH_PATIENCE_MS="M" makes the watchdog's patience M ms;
// ORVAPATCH_FAULT_ALLOC="N" makes the Nth allocation fail, "N+" every one from then on. Anything
// else is ignored. When armed, the run ends by reporting its numbers of operations and
// allocations on standard error, so a test knows when a fault was never reached, and the
// operation that was made to fail; with ORVAPATCH_FAULT_PLACES="F" too, the number of the first
// allocation from each place, told by its last F calls, for a sweep that fails each place once.
// Constructed before every static object of default priority, so the log's opening counts, and
// destroyed after them, so its closing banner counts too.
struct FaultFromEnvironment {
  bool armed = false;

  FaultFromEnvironment() {
    int nth = 0;
    bool persistent = false;
    const char* text = std::getenv("ORVAPATCH_FAULT");
    if (text != nullptr && ParseSetting(text, &nth, &persistent)) {
      fault::FailNth(nth, persistent);
      armed = true;
    }
    text = std::getenv("ORVAPATCH_STALL");
    if (text != nullptr && ParseSetting(text, &nth, &persistent)) {
      fault::StallNth(nth, !persistent);
      armed = true;
    }
    text = std::getenv("ORVAPATCH_PATIENCE_MS");
    if (text != nullptr && ParseSetting(text, &nth, &persistent) && !persistent) {
      fault::SetPatience(static_cast<unsigned>(nth));
    }
    text = std::getenv("ORVAPATCH_FAULT_ALLOC");
    if (text != nullptr && ParseSetting(text, &nth, &persistent)) {
      fault::FailAllocation(nth, persistent);
      armed = true;
    }
    text = std::getenv("ORVAPATCH_FAULT_PLACES");
    if (armed && text != nullptr && ParseSetting(text, &nth, &persistent) && !persistent) {
      fault::RecordAllocationPlaces(nth);
    }
  }

  ~FaultFromEnvironment() {
    if (!armed) return;
    std::fprintf(stderr, "fault seam: %d operations, %d allocations\n", fault::Count(),
                 fault::AllocationCount());
    std::fprintf(stderr, "fault seam: first event at %d\n", fault::FirstOf(fault::Op::kEvent));
    fault::Place failed;
    if (fault::Reached(&failed)) {
      std::fprintf(stderr, "fault seam: failed %s %d\n",
                   fault::kOpNames[static_cast<int>(failed.kind)], failed.nth);
    }
    int places = 0;
    bool complete = true;
    const int* first = fault::AllocationPlaces(&places, &complete);
    if (places > 0) {
      std::fprintf(stderr, "fault seam: %s allocation places, first at", complete ? "all" : "some");
      for (int i = 0; i < places; ++i) std::fprintf(stderr, " %d", first[i]);
      std::fprintf(stderr, "\n");
    }
    std::fflush(stderr);
  }
};

__attribute__((init_priority(101))) FaultFromEnvironment g_faultFromEnvironment;

}  // namespace
