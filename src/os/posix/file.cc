// Files on POSIX: descriptors under an exclusive flock, standing for Windows' no-sharing opens.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "machine/host_io.h"
#include "machine/paths.h"
#include "os/account.h"
#include "os/file.h"
#include "os/posix/host.h"

namespace os {

Failure File::StruckFailure() { return posix::FailureOf(EIO); }

OpenStatus File::PlatformOpenProgram(const FileLocation& path, File* out, Failure* why) {
  std::string host;
  if (!posix::HostPath(path, &host)) return (*why = posix::FailureOf(ENOENT)).status;
  // Non-blocking: a FIFO in its place must not stall the open; it is refused as no regular file.
  const int fd = posix::OpenLocked(AT_FDCWD, host, O_RDONLY | O_NONBLOCK | O_CLOEXEC, LOCK_SH);
  if (fd < 0) return (*why = posix::FailureOf(errno)).status;
  out->handle_ = base::ScopedHandle<FilePolicy>(fd);
  return OpenStatus::kDone;
}

bool File::Fail() {
  failure_ = posix::FailureOf(errno);
  return false;
}

bool File::PlatformRead(void* buffer, size_t size, size_t* got) {
  ssize_t n;
  do {
    n = ::read(static_cast<int>(handle_.Get()), buffer, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return Fail();
  *got = static_cast<size_t>(n);
  return true;
}

bool File::PlatformWrite(const void* data, size_t size) {
  return machine::WriteAll(static_cast<int>(handle_.Get()), data, size) || Fail();
}

bool File::PlatformSeek(int64_t offset) {
  return ::lseek(static_cast<int>(handle_.Get()), static_cast<off_t>(offset), SEEK_SET) >= 0 ||
         Fail();
}

bool File::PlatformSeekEnd(int64_t* length) {
  off_t end = ::lseek(static_cast<int>(handle_.Get()), 0, SEEK_END);
  if (end < 0) return Fail();
  *length = end;
  return true;
}

bool File::PlatformTruncate() {
  const int fd = static_cast<int>(handle_.Get());
  return ::lseek(fd, 0, SEEK_SET) == 0 && ::ftruncate(fd, 0) == 0;
}

bool File::PlatformSync() { return ::fsync(static_cast<int>(handle_.Get())) == 0 || Fail(); }

bool FilePolicy::PlatformClose(Handle handle) { return ::close(static_cast<int>(handle)) == 0; }

bool File::PlatformAcceptsWriting() const {
  const int fd = static_cast<int>(handle_.Get());
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // Windows refuses to write a read-only file even to an administrator: no write bit is the
  // read-only attribute here, whoever runs the program.
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
  // The descriptor's own file, whatever name it has now. An immutable file refuses everyone; one
  // that only the user the run acts for may not write is for the writing steps to refuse, as
  // access denied, as on Windows, where only the attributes make a file read-only.
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return ::faccessat(AT_FDCWD, self.c_str(), W_OK, AT_EACCESS) == 0 ||
         (errno == EACCES && ActingForUser());
}

}  // namespace os
