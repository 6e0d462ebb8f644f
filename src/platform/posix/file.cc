// Files on POSIX: descriptors under an exclusive flock, standing for Windows' no-sharing opens.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fault.h"
#include "platform/file.h"
#include "platform/posix/paths.h"

namespace platform {

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = kInvalid; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = kInvalid;
  }
  return *this;
}

bool File::Open(const std::string& path, FileMode mode, bool inheritable, File* out) {
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

}  // namespace platform
