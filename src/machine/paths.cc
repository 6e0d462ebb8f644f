// Machine-root paths and Windows command lines on POSIX.
#include "machine/paths.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

namespace platform {
namespace posix {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

std::string MachineRoot() {
  if (const char* root = std::getenv("ORVAPATCH_ROOT"); root && *root) return root;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
    return std::string(data) + "/orvapatch/machine";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.local/share/orvapatch/machine";
}

bool SplitPath(const std::string& windowsPath, std::string* base,
               std::vector<std::string>* names) {
  const std::string& p = windowsPath;
  std::string rest;
  if (p.size() >= 2 && p[1] == ':' &&
      ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'))) {
    *base = MachineRoot() + "/drive_" + static_cast<char>(p[0] | 0x20);
    rest = p.substr(2);
  } else if (!p.empty() && IsSeparator(p[0])) {
    if (p.size() >= 2 && IsSeparator(p[1])) return false;  // UNC: no network shares here
    *base = MachineRoot() + "/drive_c";
    rest = p;
  } else {
    base->clear();
    rest = p;
  }
  // "." and ".." are resolved here, as Windows resolves them, and never climb above the
  // drive's root: no such path leaves the machine root. A relative path climbs above the current
  // folder, where the system resolves it.
  names->clear();
  for (size_t i = 0; i <= rest.size();) {
    size_t end = rest.find_first_of("\\/", i);
    if (end == std::string::npos) end = rest.size();
    std::string part = rest.substr(i, end - i);
    if (part == "..") {
      if (!names->empty() && names->back() != "..") {
        names->pop_back();
      } else if (base->empty()) {
        names->push_back(part);
      }
    } else if (!part.empty() && part != ".") {
      names->push_back(Cp1252ToUtf8(part));
    }
    i = end + 1;
  }
  return true;
}

namespace {

bool WindowsHostPath(const std::string& windowsPath, std::string* out) {
  std::string host;
  std::vector<std::string> names;
  if (!SplitPath(windowsPath, &host, &names)) return false;
  if (host.empty()) {  // a relative path is handed on as it is
    std::string rest = windowsPath;
    for (char& c : rest) {
      if (c == '\\') c = '/';
    }
    *out = Cp1252ToUtf8(rest);
    return true;
  }
  for (const std::string& name : names) host += "/" + name;
  if (!names.empty() && IsSeparator(windowsPath.back())) host += '/';
  *out = host;
  return true;
}

}  // namespace

bool HostPath(const FileLocation& file, std::string* out) {
  if (!file.besideLauncher()) return WindowsHostPath(file.text(), out);
  // Freed however the copy ends, running out of memory included.
  std::unique_ptr<char, void (*)(void*)> executable(::realpath("/proc/self/exe", nullptr), std::free);
  if (executable == nullptr) return false;
  std::string path(executable.get());
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
