// The Application event log's one call, counted at the fault seam before the platform writes it.
#include "os/event_log.h"

#include "os/internal/event_log.h"
#include "os/internal/step.h"

namespace os {

bool ReportApplicationEvent(const char* source, EventType type, uint32_t id,
                            const char* const* strings, int count, const char* userSid) {
  if (BeginStep(fault::Op::kEvent)) return false;
  if (count > kMaxEventStrings) count = kMaxEventStrings;
  return PlatformReportApplicationEvent(source, type, id, strings, count, userSid);
}

}  // namespace os
