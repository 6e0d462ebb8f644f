// Held folders on POSIX: descriptors opened one folder at a time without following links, and
// every file opened, created, renamed and removed relative to them.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "base/ascii.h"
#include "machine/host_io.h"
#include "machine/paths.h"
#include "os/folder.h"
#include "os/internal/access.h"
#include "os/internal/entries.h"
#include "os/internal/random.h"
#include "os/posix/host.h"

namespace os {

using internal::FileLocationAccess;
using internal::FolderAccess;

namespace {

const int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Tells why a call failed, errno |error| or the program's own |status| with no number, in
// |*why| when asked; returns what it means.
OpenStatus Fail(int error, Failure* why, OpenStatus status = OpenStatus::kFailed) {
  Failure failure = posix::FailureOf(error);
  if (error == 0) failure.status = status;
  if (why != nullptr) *why = failure;
  return failure.status;
}

// Fail, for the creation of a replacement, which answers false.
bool CreateFailed(int error, Failure* why) {
  Fail(error, why);
  return false;
}

// True when the descriptor |fd| is still what |name| in |dir| names.
bool StillNamed(int dir, const std::string& name, int fd) {
  struct stat named, held;
  return ::fstatat(dir, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         ::fstat(fd, &held) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

// Adds the names in the folder |dir| that start with |prefix| (all of them for "") to |*names|;
// false when the folder cannot be listed to its end.
bool ListNames(int dir, const std::string& prefix, std::vector<std::string>* names) {
  const int listed = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // Closed however the listing ends, running out of memory included.
  std::unique_ptr<DIR, int (*)(DIR*)> listing(listed < 0 ? nullptr : ::fdopendir(listed),
                                              ::closedir);
  if (listing == nullptr) {
    if (listed >= 0) ::close(listed);
    return false;
  }
  errno = 0;
  while (const dirent* entry = ::readdir(listing.get())) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 &&
        std::strncmp(name, prefix.c_str(), prefix.size()) == 0) {
      names->push_back(name);
    }
  }
  return errno == 0;
}

// Whether the file |st| was made by this program: as root, as its own user, or as the user it
// acts for, whose file work runs under their uid (an invalid uid changes nothing and answers the
// one in force).
bool MadeByThisProgram(const struct stat& st) {
  const uid_t fileUser = static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1)));
  return st.st_uid == 0 || st.st_uid == ::geteuid() || st.st_uid == fileUser;
}

}  // namespace

OpenStatus Folder::PlatformOpenPrivateFolder(const std::string& name, Folder* out,
                                             Failure* why) const {
  if (!IsEntryName(name)) return Fail(0, why, OpenStatus::kRefused);
  const int dir = static_cast<int>(handle_.Get());
  if (::mkdirat(dir, name.c_str(), 0700) != 0 && errno != EEXIST) return Fail(errno, why);
  const int fd = ::openat(dir, name.c_str(), kFolderFlags);
  if (fd < 0) return Fail(errno, why);
  struct stat st;
  if (::fstat(fd, &st) != 0 || !posix::IsPrivateFolder(st)) {
    ::close(fd);
    return Fail(0, why, OpenStatus::kRefused);
  }
  out->handle_ = base::ScopedHandle<FilePolicy>(fd);
  return OpenStatus::kDone;
}

OpenStatus Folder::PlatformMakePrivateFolder(const std::string& name, Folder* out,
                                             Failure* why) const {
  if (!IsEntryName(name)) return Fail(0, why, OpenStatus::kRefused);
  const int dir = static_cast<int>(handle_.Get());
  // Only this program's user may enter; an existing folder of that name is never taken over.
  if (::mkdirat(dir, name.c_str(), 0700) != 0) return Fail(errno, why);
  const int fd = ::openat(dir, name.c_str(), kFolderFlags);
  // Held under an exclusive lock for as long as its run goes, which other runs respect; another
  // run that found it empty before it was locked may have removed it.
  const bool held = fd >= 0 && ::flock(fd, LOCK_EX) == 0;
  if (!held || !StillNamed(dir, name, fd)) {
    const OpenStatus failed = Fail(held ? ENOENT : errno, why);
    if (fd >= 0) ::close(fd);
    ::unlinkat(dir, name.c_str(), AT_REMOVEDIR);  // just made, empty, and only this user's
    return failed;
  }
  out->handle_ = base::ScopedHandle<FilePolicy>(fd);
  return OpenStatus::kDone;
}

OpenStatus Folder::PlatformOpen(const FileLocation& path, Folder* out, Failure* why) {
  // The launcher's folder as the system resolves it, every link followed: the system's answer.
  if (FileLocationAccess::besideLauncher(path)) return PlatformOpenSystemFolder(path, out, why);
  std::string base;
  std::vector<std::string> names;
  if (!machine::SplitPath(FileLocationAccess::text(path), &base, &names)) return Fail(0, why);
  // The drive's root and the folders down to the parent are the administrator's: their links are
  // followed. The folder itself is opened in its parent without following a link.
  int fd = ::open(base.empty() ? "." : base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail(errno, why);
  for (size_t i = 0; i < names.size(); ++i) {
    const bool last = i + 1 == names.size();
    const int next =
        ::openat(fd, names[i].c_str(), last ? kFolderFlags : kFolderFlags & ~O_NOFOLLOW);
    const int error = errno;
    ::close(fd);
    if (next < 0) return Fail(error, why);
    fd = next;
  }
  out->handle_ = base::ScopedHandle<FilePolicy>(fd);
  return OpenStatus::kDone;
}

OpenStatus Folder::PlatformOpenSystemFolder(const FileLocation& path, Folder* out, Failure* why) {
  std::string host;
  if (!posix::HostPath(path, &host)) return Fail(0, why);
  const int fd = ::open(host.empty() ? "." : host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail(errno, why);
  out->handle_ = base::ScopedHandle<FilePolicy>(fd);
  return OpenStatus::kDone;
}

OpenStatus Folder::PlatformOpenFolder(const std::string& name, Folder* out, Failure* why) const {
  if (!IsEntryName(name)) return Fail(0, why, OpenStatus::kRefused);
  const int fd = ::openat(static_cast<int>(handle_.Get()), name.c_str(), kFolderFlags);
  if (fd < 0) return Fail(errno, why);
  out->handle_ = base::ScopedHandle<FilePolicy>(fd);
  return OpenStatus::kDone;
}

OpenStatus Folder::PlatformOpenFile(const std::string& name, FileMode mode, bool inheritable,
                                    File* out, Failure* why) const {
  if (!IsEntryName(name)) return Fail(0, why, OpenStatus::kRefused);
  const bool write = mode == FileMode::kAppend || mode == FileMode::kTruncate;
  // Non-blocking: a FIFO planted there must not stall the open. Written files keep out each other
  // opener that locks them, as readers that lock them; readers that do not lock go on reading.
  // A new file is made by this open alone, and may be run: it is a program's copy.
  const int opening = (mode == FileMode::kCreateNew ? O_WRONLY | O_CREAT | O_EXCL
                       : write                      ? O_RDWR | O_CREAT
                                                    : O_RDONLY) |
                      O_NOFOLLOW | O_NONBLOCK | (inheritable ? 0 : O_CLOEXEC);
  const int fd = posix::OpenLocked(static_cast<int>(handle_.Get()), name, opening,
                                   mode == FileMode::kReadShared ? LOCK_SH : LOCK_EX,
                                   mode == FileMode::kCreateNew ? 0700 : 0666);
  if (fd < 0) return Fail(errno, why);
  struct stat st;
  const bool statted = ::fstat(fd, &st) == 0;
  if (!statted || st.st_nlink != 1) {
    const int error = statted ? 0 : errno;  // a second name is refused by the program itself
    ::close(fd);
    return Fail(error, why, OpenStatus::kRefused);
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
      (mode == FileMode::kAppend && ::lseek(fd, 0, SEEK_END) < 0) ||
      (mode == FileMode::kTruncate && ::ftruncate(fd, 0) != 0)) {
    const int error = errno;
    ::close(fd);
    return Fail(error, why);
  }
  out->handle_ = base::ScopedHandle<FilePolicy>(fd);
  return OpenStatus::kDone;
}

bool Folder::PlatformCreateReplacement(const File& original, const std::string& prefix,
                                       std::string* name, File* out, Failure* why) const {
  struct stat old;
  std::string digits;
  if (::fstat(static_cast<int>(original.NativeHandle()), &old) != 0 || !RandomDigits(&digits)) {
    return CreateFailed(errno, why);
  }
  std::string created = prefix + digits;
  const int dir = static_cast<int>(handle_.Get());
  const int fd = posix::OpenLocked(dir, created,
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, LOCK_EX);
  if (fd < 0) return CreateFailed(errno, why);
  File file;
  file.handle_ = base::ScopedHandle<FilePolicy>(fd);
  struct stat now;
  bool ok = ::fstat(fd, &now) == 0;
  if (ok && (now.st_uid != old.st_uid || now.st_gid != old.st_gid)) {
    ok = ::fchown(fd, old.st_uid, old.st_gid) == 0;
  }
  // After the owner: a change of owner clears the set-user-ID and set-group-ID bits.
  if (ok) ok = ::fchmod(fd, old.st_mode & 07777) == 0;
  if (!ok) {
    const int error = errno;
    Discard(&file, created);
    return CreateFailed(error, why);
  }
  name->swap(created);  // no allocation: nothing can fail now that the file exists
  *out = std::move(file);
  return true;
}

OpenStatus Folder::PlatformReplace(File* written, const std::string& temporary,
                                   const std::string& name, Failure* why) const {
  const int dir = static_cast<int>(handle_.Get());
  // The file now under |name| must be a plain file that nobody holds, as on Windows, where a
  // file held open cannot be replaced; it stays locked by this program through the rename.
  const int target =
      posix::OpenLocked(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, LOCK_EX);
  if (target < 0) return Fail(errno, why);
  OpenStatus status = OpenStatus::kDone;
  if (!StillNamed(dir, temporary, static_cast<int>(written->NativeHandle()))) {
    status = Fail(0, why);
  } else if (::renameat(dir, temporary.c_str(), dir, name.c_str()) != 0) {
    status = Fail(errno, why);
  } else {
    ::fsync(dir);
  }
  ::close(target);
  return status;
}

bool Folder::PlatformDiscard(File* written, const std::string& temporary, bool remove) const {
  const int dir = static_cast<int>(handle_.Get());
  const bool ours = remove && StillNamed(dir, temporary, static_cast<int>(written->NativeHandle()));
  written->Close();
  return ours && ::unlinkat(dir, temporary.c_str(), 0) == 0;
}

std::vector<std::string> Folder::ReadNames(const std::string& prefix) const {
  std::vector<std::string> names;
  ListNames(static_cast<int>(handle_.Get()), prefix, &names);
  return names;
}

EntryName EntryNameOf(const std::string& name) { return name; }

bool ListEntries(intptr_t folder, const std::string& prefix, std::vector<EntryName>* out) {
  return ListNames(static_cast<int>(folder), prefix, out);
}

OpenStatus OpenEntry(intptr_t folder, const EntryName& name, EntryUse use, Entry* out,
                     EntryKind* kind) {
  const int dir = static_cast<int>(folder);
  // A path descriptor opens anything, a link itself included, without reading it or waking a
  // device; a leftover is locked against every run that still holds it.
  const int fd =
      use == EntryUse::kInTree
          ? ::openat(dir, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC)
          : posix::OpenLocked(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, LOCK_EX);
  if (fd < 0) return posix::FailureOf(errno).status;
  *out = Entry(fd);
  struct stat st;
  const bool statted = ::fstat(fd, &st) == 0;
  *kind = statted && S_ISDIR(st.st_mode) ? EntryKind::kFolder
          : statted && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
                  (use == EntryUse::kInTree || MadeByThisProgram(st))
              ? EntryKind::kFile
              : EntryKind::kOther;
  return OpenStatus::kDone;
}

OpenStatus TakePrivateFolder(Entry* entry) {
  struct stat st;
  if (::fstat(static_cast<int>(entry->Get()), &st) != 0 || !posix::IsPrivateFolder(st)) {
    return OpenStatus::kRefused;
  }
  // A run holds its room under an exclusive lock, which a path descriptor cannot take.
  const int fd = ::openat(static_cast<int>(entry->Get()), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return posix::FailureOf(errno).status;
  *entry = Entry(fd);
  return ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? OpenStatus::kDone : OpenStatus::kInUse;
}

OpenStatus DeleteEntry(intptr_t folder, const EntryName& name, const Entry& entry, EntryKind kind) {
  const int dir = static_cast<int>(folder);
  return StillNamed(dir, name, static_cast<int>(entry.Get())) &&
                 ::unlinkat(dir, name.c_str(), kind == EntryKind::kFolder ? AT_REMOVEDIR : 0) == 0
             ? OpenStatus::kDone
             : OpenStatus::kRefused;
}

bool EntryPolicy::Close(Handle handle) { return ::close(static_cast<int>(handle)) == 0; }

bool UpdateLock::Identity(const Folder& folder, const std::string& name, std::string* out) {
  // The folder's device and inode, which every spelling of the folder leads to, and the file's
  // name, its ASCII case folded as the Windows build folds it: two files of one name in two
  // cases then share one lock, which only makes their updates wait for each other.
  struct stat st;
  if (::fstat(static_cast<int>(FolderAccess::NativeHandle(folder)), &st) != 0) return false;
  std::string identity = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":";
  for (char c : name) identity += base::AsciiLower(c);
  out->swap(identity);
  return true;
}

void Pause(unsigned milliseconds) {
  timespec wait = {static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

}  // namespace os
