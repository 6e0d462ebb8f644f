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
#include "platform/posix/host_io.h"
#include "platform/posix/paths.h"

namespace platform {

namespace {

// Opens the host file |host| with |flags| under the flock |lock| (LOCK_EX or LOCK_SH), taken
// before a kTruncate open cuts anything; -1 on failure.
int OpenLocked(const std::string& host, int flags, int lock, FileMode mode) {
  int fd = ::open(host.c_str(), flags, 0666);
  if (fd < 0) return -1;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, lock | LOCK_NB) == 0;
  if (ok && mode == FileMode::kTruncate) ok = ::ftruncate(fd, 0) == 0;
  if (ok && mode == FileMode::kAppend) ok = ::lseek(fd, 0, SEEK_END) >= 0;
  if (!ok) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

bool File::Open(const FileLocation& path, FileMode mode, bool inheritable, File* out) {
  if (fault::Strike()) return false;
  std::string host;
  if (!posix::HostPath(path, &host)) return false;
  const bool read = mode == FileMode::kRead || mode == FileMode::kReadShared;
  // kTruncate is cut only once the lock is held.
  int flags = (read ? O_RDONLY : O_WRONLY | O_CREAT) | (inheritable ? 0 : O_CLOEXEC);
  int fd = OpenLocked(host, flags, mode == FileMode::kReadShared ? LOCK_SH : LOCK_EX, mode);
  if (fd < 0) return false;
  File file;
  file.handle_ = ScopedHandle<FilePolicy>(fd);
  *out = std::move(file);
  return true;
}

bool File::CreateReplacement(const std::string& /*target: the rename takes over its mode*/,
                             const std::string& path, File* out) {
  if (fault::Strike()) return false;
  std::string host;
  if (!posix::HostPath(path, &host)) return false;
  int fd = OpenLocked(host, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, LOCK_EX, FileMode::kTruncate);
  if (fd < 0) return false;
  File file;
  file.handle_ = ScopedHandle<FilePolicy>(fd);
  *out = std::move(file);
  return true;
}

bool File::Read(void* buffer, size_t size, size_t* got) {
  if (fault::Strike()) return false;
  ssize_t n;
  do {
    n = ::read(static_cast<int>(handle_.Get()), buffer, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return false;
  *got = static_cast<size_t>(n);
  return true;
}

bool File::Write(const void* data, size_t size) {
  if (fault::Strike()) return false;
  return posix::WriteAll(static_cast<int>(handle_.Get()), data, size);
}

bool File::Seek(int64_t offset) {
  if (fault::Strike()) return false;
  return ::lseek(static_cast<int>(handle_.Get()), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool File::SeekEnd(int64_t* length) {
  if (fault::Strike()) return false;
  off_t end = ::lseek(static_cast<int>(handle_.Get()), 0, SEEK_END);
  if (end < 0) return false;
  *length = end;
  return true;
}

bool File::Sync() {
  if (fault::Strike()) return false;
  return ::fsync(static_cast<int>(handle_.Get())) == 0;
}

void File::StartSync() {
  (void)::sync_file_range(static_cast<int>(handle_.Get()), 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool FilePolicy::Close(Handle handle) {
  const bool struck = fault::Strike();
  return ::close(static_cast<int>(handle)) == 0 && !struck;
}

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
  return posix::RenameDurably(hostReplacement, resolved);
}

bool RemoveFile(const std::string& path) {
  if (fault::Strike()) return false;
  std::string host;
  return posix::HostPath(path, &host) && ::unlink(host.c_str()) == 0;
}

bool DiscardReplacement(const std::string& replacement, File* written) {
  written->Close();
  return RemoveFile(replacement);
}

bool IsPlainFile(const std::string& path) {
  if (fault::Strike()) return false;
  std::string host;
  struct stat st;
  return posix::HostPath(path, &host) && ::lstat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool RenameFile(const std::string& from, const std::string& to) {
  if (fault::Strike()) return false;
  std::string hostFrom, hostTo;
  if (!posix::HostPath(from, &hostFrom) || !posix::HostPath(to, &hostTo)) return false;
  if (::renameat2(AT_FDCWD, hostFrom.c_str(), AT_FDCWD, hostTo.c_str(), RENAME_NOREPLACE) != 0) {
    return false;
  }
  posix::SyncDirectory(posix::HostDirectory(hostTo));
  return true;
}

bool UpdateLockPolicy::Close(Handle handle) {
  return ::close(static_cast<int>(handle)) == 0;  // releases the lock
}

bool UpdateLock::Acquire(const std::string& path, unsigned milliseconds) {
  if (handle_.IsValid() || fault::Strike()) return false;
  std::string host;
  if (!posix::HostPath(path, &host)) return false;
  int fd = ::open(posix::HostDirectory(host).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // Polled, not blocking: the wait has a limit, and no signal is needed to end it.
  const unsigned kPoll = 20;
  for (unsigned waited = 0; ::flock(fd, LOCK_EX | LOCK_NB) != 0; waited += kPoll) {
    if (errno != EWOULDBLOCK || waited >= milliseconds) {
      ::close(fd);
      return false;
    }
    ::usleep(kPoll * 1000);
  }
  handle_ = ScopedHandle<UpdateLockPolicy>(fd);
  return true;
}

}  // namespace platform
