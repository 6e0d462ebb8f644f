// Folders on POSIX: the Windows folders inside the machine root, the executable's own directory.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/folders.h"
#include "platform/posix/paths.h"

namespace platform {

bool WindowsDirectory(std::string* out) {
  *out = "C:\\windows";
  return true;
}

bool DocumentsFolder(std::string* out) {
  // The login name as Wine takes it: $USER, else the password database.
  std::string login;
  if (const char* user = std::getenv("USER"); user && *user) {
    login = user;
  } else if (const struct passwd* pw = ::getpwuid(::geteuid())) {
    login = pw->pw_name;
  } else {
    return false;
  }
  *out = "C:\\users\\" + posix::Utf8ToCp1252(login) + "\\Documents";
  return true;
}

namespace {

std::string RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return std::string();
  std::string result(real);
  std::free(real);
  return result;
}

// Path components of an absolute host path.
std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i < path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    if (j > i) parts.push_back(path.substr(i, j - i));
    i = j + 1;
  }
  return parts;
}

}  // namespace

std::string LauncherDirectory() {
  // A Windows path that maps back to the executable's directory: on a drive of the machine root
  // when the launcher lies inside it, else relative to the current directory (the only kind of
  // path that may leave the machine root).
  std::string exe = RealPath("/proc/self/exe");
  if (exe.empty()) return std::string();
  std::vector<std::string> dir = Components(exe);
  dir.pop_back();
  std::string root = RealPath(posix::MachineRoot());
  std::vector<std::string> rootParts = Components(root);
  if (!root.empty() && dir.size() > rootParts.size() &&
      std::equal(rootParts.begin(), rootParts.end(), dir.begin()) &&
      dir[rootParts.size()].size() == 7 && dir[rootParts.size()].compare(0, 6, "drive_") == 0) {
    std::string path(1, static_cast<char>(dir[rootParts.size()][6] - 'a' + 'A'));
    path += ":\\";
    for (size_t i = rootParts.size() + 1; i < dir.size(); ++i) path += dir[i] + "\\";
    return posix::Utf8ToCp1252(path);
  }
  std::string current = RealPath(".");
  if (current.empty()) return std::string();
  std::vector<std::string> cwd = Components(current);
  size_t common = 0;
  while (common < cwd.size() && common < dir.size() && cwd[common] == dir[common]) ++common;
  std::string path = ".\\";
  for (size_t i = common; i < cwd.size(); ++i) path += "..\\";
  for (size_t i = common; i < dir.size(); ++i) path += dir[i] + "\\";
  return posix::Utf8ToCp1252(path);
}

std::string SystemDirectory() { return "C:\\windows\\system32"; }

bool FileExists(const std::string& path) {
  std::string host;
  struct stat st;
  return posix::HostPath(path, &host) && ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace platform
