// The Application event log on POSIX: one line per event appended to eventlog.txt at the machine
// root.
#include <fcntl.h>
#include <unistd.h>

#include "machine/host_io.h"
#include "machine/paths.h"
#include "os/event_log.h"

namespace os {

namespace {

const char* TypeName(EventType type) {
  switch (type) {
    case EventType::kInformation: return "information";
    case EventType::kWarning: return "warning";
    case EventType::kError: break;
  }
  return "error";
}

// |text| in UTF-8, with the characters that would break the line's fields escaped.
std::string Field(const std::string& text) {
  std::string field;
  for (char c : machine::Cp1252ToUtf8(text)) {
    switch (c) {
      case '\t': field += "\\t"; break;
      case '\r': field += "\\r"; break;
      case '\n': field += "\\n"; break;
      case '\\': field += "\\\\"; break;
      default: field += c;
    }
  }
  return field;
}

}  // namespace

bool WriteApplicationEvent(const char* source, EventType type, uint32_t id,
                           const std::vector<std::string>& strings,
                           const std::string& /*userSid: the line has no user field*/) {
  std::string line = Field(source) + '\t' + TypeName(type) + '\t' + std::to_string(id);
  for (const std::string& text : strings) line += '\t' + Field(text);
  line += '\n';
  const std::string path = machine::MachineRoot() + "/eventlog.txt";
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  // One write of the whole line: runs appending at once never interleave their events.
  bool written = machine::WriteAll(fd, line.data(), line.size());
  return close(fd) == 0 && written;
}

}  // namespace os
