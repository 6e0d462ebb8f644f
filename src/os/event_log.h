// The Application event log, where fleet tools read what each run did.
#pragma once

#include <cstddef>
#include <cstdint>

namespace os {

enum class EventType { kInformation, kWarning, kError };

// The most insertion strings an event has, and the longest string that it keeps whole (longer
// ones are cut).
constexpr int kMaxEventStrings = 9;
constexpr size_t kMaxEventString = 2047;

// Reports one event of |source| to the Application log, with the |count| insertion strings
// |strings| (cp1252, each ending in a zero). The source may have no message file, so each string
// must read on its own. On Windows the event's user is the account whose SID |userSid| gives in
// its text form (none when it is empty or no SID); the POSIX line has no such field. Nothing is
// allocated on the way: the strings are converted on the stack or in storage kept for it from the
// start, so that a run out of memory still tells what it did. Not for two threads at once. False
// when the event could not be written.
[[nodiscard]] bool ReportApplicationEvent(const char* source, EventType type, uint32_t id,
                                          const char* const* strings, int count,
                                          const char* userSid);

}  // namespace os
