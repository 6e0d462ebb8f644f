// The Application event log on Windows, through advapi32's event source calls.
#include <windows.h>
#include <sddl.h>

#include "os/event_log.h"
#include "os/internal/event_log.h"

namespace os {

namespace {

WORD EventLogType(EventType type) {
  switch (type) {
    case EventType::kInformation: return EVENTLOG_INFORMATION_TYPE;
    case EventType::kWarning: return EVENTLOG_WARNING_TYPE;
    case EventType::kError: break;
  }
  return EVENTLOG_ERROR_TYPE;
}

// |text| as UTF-16 in |wide|, cut to kMaxEventString characters: cp1252 has one per byte.
const wchar_t* Widened(const char* text, wchar_t* wide) {
  size_t length = 0;
  while (length < kMaxEventString && text[length] != '\0') ++length;
  const int made = length == 0 ? 0
                               : MultiByteToWideChar(1252, 0, text, static_cast<int>(length), wide,
                                                     static_cast<int>(kMaxEventString));
  wide[made > 0 ? made : 0] = L'\0';
  return wide;
}

}  // namespace

bool PlatformReportApplicationEvent(const char* source, EventType type, uint32_t id,
                                    const char* const* strings, int count, const char* userSid) {
  // On the stack, which needs no allocation (the file would hold the zeros of a global).
  wchar_t wide[kMaxEventStrings + 1][kMaxEventString + 1];
  LPCWSTR pointers[kMaxEventStrings];
  for (int i = 0; i < count; ++i) pointers[i] = Widened(strings[i], wide[i]);
  // The event is written all the same when the SID cannot be converted, without its user.
  PSID user = nullptr;
  if (userSid[0] != '\0' && !ConvertStringSidToSidA(userSid, &user)) user = nullptr;
  // An unregistered source is accepted: the event then reads by its strings alone.
  HANDLE log = RegisterEventSourceW(nullptr, Widened(source, wide[kMaxEventStrings]));
  BOOL written = FALSE;
  if (log != nullptr) {
    written = ReportEventW(log, EventLogType(type), 0, id, user, static_cast<WORD>(count), 0,
                           pointers, nullptr);
    DeregisterEventSource(log);
  }
  LocalFree(user);
  return written != FALSE;
}

}  // namespace os
