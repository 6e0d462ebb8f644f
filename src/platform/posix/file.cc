// Files on POSIX: descriptors under an exclusive flock, standing for Windows' no-sharing opens.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/fault.h"
#include "platform/file.h"
#include "platform/posix/paths.h"

namespace platform {

bool File::Open(const FileLocation& path, FileMode mode, bool inheritable, File* out) {
  if (fault::Strike()) return false;
  std::string host;
  if (!posix::HostPath(path, &host)) return false;
  int flags = O_WRONLY | O_CREAT;
  switch (mode) {
    case FileMode::kRead:
    case FileMode::kReadShared:
      flags = O_RDONLY;
      break;
    case FileMode::kAppend:
    case FileMode::kTruncate:  // cut only once the lock is held
      break;
    case FileMode::kCreateNew:
      flags |= O_EXCL;
      break;
  }
  if (!inheritable) flags |= O_CLOEXEC;
  int fd = ::open(host.c_str(), flags, 0666);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            ::flock(fd, (mode == FileMode::kReadShared ? LOCK_SH : LOCK_EX) | LOCK_NB) == 0;
  if (ok && mode == FileMode::kTruncate) ok = ::ftruncate(fd, 0) == 0;
  if (ok && mode == FileMode::kAppend) ok = ::lseek(fd, 0, SEEK_END) >= 0;
  if (!ok) {
    ::close(fd);
    return false;
  }
  File file;
  file.handle_ = fd;
  *out = std::move(file);
  return true;
}

bool File::Read(void* buffer, size_t size, size_t* got) {
  if (fault::Strike()) return false;
  ssize_t n;
  do {
    n = ::read(static_cast<int>(handle_), buffer, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return false;
  *got = static_cast<size_t>(n);
  return true;
}

bool File::Write(const void* data, size_t size) {
  if (fault::Strike()) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(static_cast<int>(handle_), p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool File::Seek(int64_t offset) {
  if (fault::Strike()) return false;
  return ::lseek(static_cast<int>(handle_), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool File::SeekEnd(int64_t* length) {
  if (fault::Strike()) return false;
  off_t end = ::lseek(static_cast<int>(handle_), 0, SEEK_END);
  if (end < 0) return false;
  *length = end;
  return true;
}

bool File::Sync() {
  if (fault::Strike()) return false;
  return ::fsync(static_cast<int>(handle_)) == 0;
}

bool File::Close() {
  if (handle_ == kInvalid) return true;
  int fd = static_cast<int>(handle_);
  handle_ = kInvalid;
  bool struck = fault::Strike();
  return ::close(fd) == 0 && !struck;
}

namespace {

// The directory part of a host path ("." for a bare name).
std::string Directory(const std::string& host) {
  size_t slash = host.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : host.substr(0, slash);
}

}  // namespace

bool IsWritable(const std::string& path) {
  if (fault::Strike()) return false;
  std::string host;
  if (!posix::HostPath(path, &host)) return false;
  struct stat st;
  if (::stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // Windows refuses to write a read-only file even to an administrator: no write bit is the
  // read-only attribute here, whoever runs the program.
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
  if (::faccessat(AT_FDCWD, host.c_str(), W_OK, AT_EACCESS) != 0) return false;
  int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool unheld = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);  // releases the lock
  return unheld;
}

bool AtomicReplace(const std::string& target, const std::string& replacement, File* /*written*/) {
  // |written| stays open through the rename: its lock keeps other runs off the temporary name.
  if (fault::Strike()) return false;  // taking over mode, owner and group
  std::string hostTarget, hostReplacement;
  if (!posix::HostPath(target, &hostTarget) || !posix::HostPath(replacement, &hostReplacement)) {
    return false;
  }
  char resolved[PATH_MAX];
  if (::realpath(hostTarget.c_str(), resolved) == nullptr) return false;
  struct stat old;
  if (::stat(resolved, &old) != 0 || !S_ISREG(old.st_mode)) return false;
  int fd = ::open(hostReplacement.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat now;
  bool ok = ::fstat(fd, &now) == 0 && S_ISREG(now.st_mode);
  if (ok && (now.st_uid != old.st_uid || now.st_gid != old.st_gid)) {
    ok = ::fchown(fd, old.st_uid, old.st_gid) == 0;
  }
  // After the owner: a change of owner clears the set-user-ID and set-group-ID bits.
  if (ok) ok = ::fchmod(fd, old.st_mode & 07777) == 0;
  ::close(fd);
  if (!ok) return false;
  if (fault::Strike()) return false;  // the rename
  if (::rename(hostReplacement.c_str(), resolved) != 0) return false;
  posix::SyncDirectory(Directory(resolved));
  return true;
}

bool RemoveFile(const std::string& path) {
  if (fault::Strike()) return false;
  std::string host;
  return posix::HostPath(path, &host) && ::unlink(host.c_str()) == 0;
}

}  // namespace platform
