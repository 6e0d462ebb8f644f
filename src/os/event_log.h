// The Application event log, where fleet tools read what each run did.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace os {

enum class EventType { kInformation, kWarning, kError };

// Reports one event of |source| to the Application log, with the insertion strings |strings|
// (cp1252). The source may have no message file, so each string must read on its own. On
// Windows the event's user is the account whose SID |userSid| gives in its text form (none when
// it is empty or no SID); the POSIX line has no such field. False when the event could not be
// written.
[[nodiscard]] bool ReportApplicationEvent(const char* source, EventType type, uint32_t id,
                                          const std::vector<std::string>& strings,
                                          const std::string& userSid);

// ReportApplicationEvent's step once counted at the fault seam, which each platform defines: the
// program reports through ReportApplicationEvent.
[[nodiscard]] bool WriteApplicationEvent(const char* source, EventType type, uint32_t id,
                                         const std::vector<std::string>& strings,
                                         const std::string& userSid);

}  // namespace os
