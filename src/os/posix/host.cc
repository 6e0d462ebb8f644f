// errno's meanings, locked opens, host paths and command lines on the emulated machine.
#include "os/posix/host.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "machine/paths.h"
#include "os/internal/access.h"
#include "os/internal/error_meaning.h"

namespace os {
namespace posix {

using internal::FileLocationAccess;

// EPERM: an immutable file or folder, which Windows would report as access denied too.
const ErrorMeaning kMeanings[] = {
    {ENOENT, OpenStatus::kMissing}, {EWOULDBLOCK, OpenStatus::kInUse},
    {ELOOP, OpenStatus::kRefused},  {ENOTDIR, OpenStatus::kRefused},
    {EISDIR, OpenStatus::kRefused}, {ENOSPC, OpenStatus::kNoSpace},
    {EDQUOT, OpenStatus::kNoSpace}, {EACCES, OpenStatus::kDenied},
    {EPERM, OpenStatus::kDenied},
};

Failure FailureOf(int error) { return Meaning(static_cast<uint32_t>(error), kMeanings); }

int OpenLocked(int dir, const std::string& name, int flags, int lock, mode_t mode) {
  int fd = ::openat(dir, name.c_str(), flags, mode);
  if (fd < 0) return -1;
  struct stat st;
  int error = 0;
  if (::fstat(fd, &st) != 0) {
    error = errno;
  } else if (!S_ISREG(st.st_mode)) {
    error = EISDIR;
  } else if (::flock(fd, lock | LOCK_NB) != 0) {
    error = errno;
  }
  if (error != 0) {
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

bool IsPrivateFolder(const struct stat& st) {
  return S_ISDIR(st.st_mode) && (st.st_uid == 0 || st.st_uid == ::geteuid()) &&
         (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool HostPath(const FileLocation& file, std::string* out) {
  if (!FileLocationAccess::besideLauncher(file)) {
    return machine::HostPath(FileLocationAccess::text(file), out);
  }
  // Freed however the copy ends, running out of memory included.
  std::unique_ptr<char, void (*)(void*)> executable(::realpath("/proc/self/exe", nullptr),
                                                    std::free);
  if (executable == nullptr) return false;
  std::string path(executable.get());
  *out =
      path.substr(0, path.rfind('/') + 1) + machine::Cp1252ToUtf8(FileLocationAccess::text(file));
  return true;
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
}  // namespace os
