// The POSIX entry point, and the fault seam armed from the environment for tests of whole runs.
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "platform/fault.h"
#include "platform/framework.h"

namespace {

// ORVAPATCH_FAULT="N" makes the Nth counted operation of the run fail, "N+" that one and every
// later one, "0" only counts; anything else is ignored. When armed, the run ends by reporting
// its number of operations on standard error, so a test knows when a fault was never reached.
// Constructed before every static object of default priority, so the log's opening counts, and
// destroyed after them, so its closing banner counts too.
struct FaultFromEnvironment {
  bool armed = false;

  FaultFromEnvironment() {
    const char* text = std::getenv("ORVAPATCH_FAULT");
    if (text == nullptr || *text == '\0') return;
    long nth = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9'; ++p) {
      nth = nth * 10 + (*p - '0');
      if (nth > INT_MAX) return;
    }
    const bool persistent = *p == '+';
    if (p == text || p[persistent ? 1 : 0] != '\0') return;
    platform::fault::FailNth(static_cast<int>(nth), persistent);
    armed = true;
  }

  ~FaultFromEnvironment() {
    if (armed) std::fprintf(stderr, "fault seam: %d operations\n", platform::fault::Count());
  }
};

__attribute__((init_priority(101))) FaultFromEnvironment g_faultFromEnvironment;

}  // namespace

int main() { return AfxWinMain(); }
