// Machine-root paths, cp1252 texts and Windows command lines on POSIX.
#include "platform/posix/paths.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {
namespace posix {
namespace {

// Unicode code points of cp1252 bytes 0x80 to 0x9F; 0 marks the five unassigned bytes,
// which map to the C1 control of the same value as Windows does.
const unsigned short kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

unsigned CodePoint(unsigned char c) {
  if (c >= 0x80 && c < 0xA0 && kHigh[c - 0x80] != 0) return kHigh[c - 0x80];
  return c;
}

void AppendUtf8(unsigned cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::string MachineRoot() {
  if (const char* root = std::getenv("ORVAPATCH_ROOT"); root && *root) return root;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
    return std::string(data) + "/orvapatch/machine";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.local/share/orvapatch/machine";
}

std::string Cp1252ToUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) AppendUtf8(CodePoint(c), &out);
  return out;
}

std::string Utf8ToCp1252(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    unsigned cp = c;
    size_t length = 1;
    if (c >= 0xF0) {
      length = 4;
    } else if (c >= 0xE0) {
      length = 3, cp = c & 0x0F;
    } else if (c >= 0xC0) {
      length = 2, cp = c & 0x1F;
    }
    if (length == 4 || i + length > text.size()) {
      out.push_back('?');
      i += length == 4 ? 4 : 1;
      continue;
    }
    for (size_t k = 1; k < length; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += length;
    if (cp < 0x80 || (cp >= 0xA0 && cp < 0x100)) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    char mapped = '?';
    for (unsigned b = 0x80; b < 0xA0; ++b) {
      if (CodePoint(static_cast<unsigned char>(b)) == cp) mapped = static_cast<char>(b);
    }
    out.push_back(mapped);
  }
  return out;
}

namespace {

bool WindowsHostPath(const std::string& windowsPath, std::string* out) {
  const std::string& p = windowsPath;
  std::string rest;
  std::string host;
  if (p.size() >= 2 && p[1] == ':' &&
      ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'))) {
    char drive = static_cast<char>(p[0] | 0x20);
    host = MachineRoot() + "/drive_" + drive;
    rest = p.substr(2);
  } else if (!p.empty() && IsSeparator(p[0])) {
    if (p.size() >= 2 && IsSeparator(p[1])) return false;  // UNC: no network shares here
    host = MachineRoot() + "/drive_c";
    rest = p;
  } else {
    rest = p;
  }
  for (char& c : rest) {
    if (c == '\\') c = '/';
  }
  if (host.empty()) {
    *out = Cp1252ToUtf8(rest);
    return true;
  }
  // On a drive, "." and ".." are resolved here, as Windows resolves them, and never climb above
  // the drive's root: no such path leaves the machine root.
  std::vector<std::string> parts;
  for (size_t i = 0; i <= rest.size();) {
    size_t end = rest.find('/', i);
    if (end == std::string::npos) end = rest.size();
    std::string part = rest.substr(i, end - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = end + 1;
  }
  std::string tail;
  for (const std::string& part : parts) tail += "/" + part;
  if (!rest.empty() && rest.back() == '/' && !parts.empty()) tail += '/';
  *out = host + Cp1252ToUtf8(tail);
  return true;
}

}  // namespace

bool HostPath(const FileLocation& file, std::string* out) {
  if (!file.besideLauncher()) return WindowsHostPath(file.text(), out);
  char* executable = ::realpath("/proc/self/exe", nullptr);
  if (executable == nullptr) return false;
  std::string path(executable);
  std::free(executable);
  *out = path.substr(0, path.rfind('/') + 1) + Cp1252ToUtf8(file.text());
  return true;
}

void SyncDirectory(const std::string& directory) {
  int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> args;
  size_t i = 0;
  // The program name: up to the next blank, or between quotes, with no escapes.
  std::string name;
  if (i < line.size() && line[i] == '"') {
    ++i;
    while (i < line.size() && line[i] != '"') name += line[i++];
    if (i < line.size()) ++i;
  } else {
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') name += line[i++];
  }
  args.push_back(name);
  while (true) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    std::string arg;
    bool quoted = false;
    while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
      size_t slashes = 0;
      while (i < line.size() && line[i] == '\\') ++slashes, ++i;
      if (i < line.size() && line[i] == '"') {
        arg.append(slashes / 2, '\\');
        if (slashes % 2 == 1) {
          arg += '"';
          ++i;
        } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          arg += '"';  // a doubled quote inside quotes is a literal quote
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg.append(slashes, '\\');
        if (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) arg += line[i++];
      }
    }
    args.push_back(arg);
  }
  return args;
}

}  // namespace posix
}  // namespace platform
