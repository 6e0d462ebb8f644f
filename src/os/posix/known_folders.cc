// Folders on POSIX: the Windows folders inside the machine root.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "machine/paths.h"
#include "os/known_folders.h"
#include "os/internal/known_folders.h"
#include "os/posix/host.h"

namespace os {

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
  *out = "C:\\users\\" + machine::Utf8ToCp1252(login) + "\\Documents";
  return true;
}

std::string SystemDirectory() { return "C:\\windows\\system32"; }

bool FileExists(const FileLocation& file) {
  std::string host;
  struct stat st;
  return posix::HostPath(file, &host) && ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace os
