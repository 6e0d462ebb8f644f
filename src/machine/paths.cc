// Machine-root paths and Windows command lines on POSIX.
#include "machine/paths.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace machine {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

bool MachineRootFile(const char* name, char* out, size_t size) {
  const char* root = std::getenv("ORVAPATCH_ROOT");
  const char* data = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  int length = 0;
  if (root && *root) {
    length = std::snprintf(out, size, "%s%s", root, name);
  } else if (data && *data) {
    length = std::snprintf(out, size, "%s/orvapatch/machine%s", data, name);
  } else {
    length =
        std::snprintf(out, size, "%s/.local/share/orvapatch/machine%s", home ? home : "", name);
  }
  return length >= 0 && static_cast<size_t>(length) < size;
}

std::string MachineRoot() {
  char root[PATH_MAX];
  return MachineRootFile("", root, sizeof(root)) ? root : std::string();
}

bool SplitPath(const std::string& windowsPath, std::string* base, std::vector<std::string>* names) {
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

bool HostPath(const std::string& windowsPath, std::string* out) {
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

void SyncDirectory(const std::string& directory) {
  int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace machine
