// The Application event log on Windows, through advapi32's event source calls.
#include <windows.h>
#include <sddl.h>

#include "os/event_log.h"
#include "os/win32/wide_path.h"

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

}  // namespace

bool WriteApplicationEvent(const char* source, EventType type, uint32_t id,
                           const std::vector<std::string>& strings, const std::string& userSid) {
  std::vector<win32::WideText> wide;
  std::vector<LPCWSTR> pointers;
  for (const std::string& text : strings) wide.push_back(win32::Widen(text));
  for (const win32::WideText& text : wide) pointers.push_back(text.data());
  // The event is written all the same when the SID cannot be converted, without its user.
  PSID user = nullptr;
  if (!userSid.empty() && !ConvertStringSidToSidA(userSid.c_str(), &user)) user = nullptr;
  // An unregistered source is accepted: the event then reads by its strings alone.
  HANDLE log = RegisterEventSourceW(nullptr, win32::Widen(source).data());
  BOOL written = FALSE;
  if (log != nullptr) {
    written = ReportEventW(log, EventLogType(type), 0, id, user, static_cast<WORD>(pointers.size()),
                           0, pointers.data(), nullptr);
    DeregisterEventSource(log);
  }
  LocalFree(user);
  return written != FALSE;
}

}  // namespace os
