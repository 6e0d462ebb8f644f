// The event log's step that each platform takes once the report is counted.
#pragma once

#include <cstdint>

#include "os/event_log.h"

namespace os {

// ReportApplicationEvent's step once counted at the fault seam, which each platform defines: the
// program reports through ReportApplicationEvent.
[[nodiscard]] bool PlatformReportApplicationEvent(const char* source, EventType type, uint32_t id,
                                                  const char* const* strings, int count,
                                                  const char* userSid);

}  // namespace os
