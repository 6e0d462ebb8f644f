// The Application event log's one call, counted at the fault seam before the platform writes it.
#include "os/event_log.h"

#include "os/internal/step.h"

namespace os {

bool ReportApplicationEvent(const char* source, EventType type, uint32_t id,
                            const std::vector<std::string>& strings, const std::string& userSid) {
  if (BeginStep(testing::Op::kEvent)) return false;
  return WriteApplicationEvent(source, type, id, strings, userSid);
}

}  // namespace os
