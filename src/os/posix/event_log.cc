// The Application event log on POSIX: one line per event appended to eventlog.txt at the machine
// root.
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>

#include "machine/cp1252.h"
#include "machine/host_io.h"
#include "machine/paths.h"
#include "os/event_log.h"
#include "os/internal/event_log.h"

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

// The line of the one event being written, kept from the start: each cp1252 byte takes up to
// three bytes of UTF-8 or two of an escape.
char g_line[(kMaxEventStrings + 3) * (3 * kMaxEventString + 1) + 16];
char g_path[PATH_MAX];

// Appends |text| to the line at |*at|, in UTF-8, with the characters that would break the line's
// fields escaped, and cut to kMaxEventString bytes of cp1252.
void AddField(const char* text, size_t* at) {
  char* out = g_line + *at;
  for (size_t i = 0; i < kMaxEventString && text[i] != '\0'; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const char* escape = c == '\t'   ? "\\t"
                         : c == '\r' ? "\\r"
                         : c == '\n' ? "\\n"
                         : c == '\\' ? "\\\\"
                                     : nullptr;
    if (escape != nullptr) {
      *out++ = escape[0];
      *out++ = escape[1];
      continue;
    }
    const uint16_t u = machine::Cp1252ToUnicode(c);
    if (u < 0x80) {
      *out++ = static_cast<char>(u);
    } else if (u < 0x800) {
      *out++ = static_cast<char>(0xC0 | (u >> 6));
      *out++ = static_cast<char>(0x80 | (u & 0x3F));
    } else {
      *out++ = static_cast<char>(0xE0 | (u >> 12));
      *out++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      *out++ = static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  *at = static_cast<size_t>(out - g_line);
}

}  // namespace

bool PlatformReportApplicationEvent(const char* source, EventType type, uint32_t id,
                                    const char* const* strings, int count,
                                    const char* /*userSid: the line has no user field*/) {
  size_t at = 0;
  AddField(source, &at);
  at += static_cast<size_t>(
      std::snprintf(g_line + at, 32, "\t%s\t%lu", TypeName(type), static_cast<unsigned long>(id)));
  for (int i = 0; i < count; ++i) {
    g_line[at++] = '\t';
    AddField(strings[i], &at);
  }
  g_line[at++] = '\n';
  if (!machine::MachineRootFile("/eventlog.txt", g_path, sizeof(g_path))) return false;
  int fd = open(g_path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  // One write of the whole line: runs appending at once never interleave their events.
  bool written = machine::WriteAll(fd, g_line, at);
  return close(fd) == 0 && written;
}

}  // namespace os
