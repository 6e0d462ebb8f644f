// Files opened with no sharing: the only way the program reads or writes file contents.
// Paths are Windows paths in cp1252; every call is counted by the fault-injection seam.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_location.h"

namespace platform {

enum class FileMode {
  kRead,       // an existing file, for reading
  kAppend,     // for writing, created when missing, content kept, position at the end
  kTruncate,   // for writing, created when missing, cut to length 0
  kCreateNew,  // for writing, fails when the name exists (temporary files)
  kReadShared,  // an existing file, for reading, shared with other readers only (the version
                // reader, which keeps it from changing while the system's library reads it);
                // fails while another opener holds it with no sharing or for writing
};

// A move-only owner of one open file. No other opener may share the file while it is open
// (on POSIX: an exclusive flock, taken before anything is cut), except in mode kReadShared
// (on POSIX: a shared flock).
class File {
 public:
  File() = default;
  ~File() { Close(); }
  File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = kInvalid; }
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.handle_;
      other.handle_ = kInvalid;
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens |path|; |out| is left untouched on failure. An |inheritable| file stays open in
  // programs started while it is open.
  static bool Open(const FileLocation& path, FileMode mode, bool inheritable, File* out);

  bool IsOpen() const { return handle_ != kInvalid; }

  // Reads up to |size| bytes; |*got| is 0 at the end of the file.
  bool Read(void* buffer, size_t size, size_t* got);
  // Writes all |size| bytes or fails.
  bool Write(const void* data, size_t size);
  // Moves to |offset| bytes from the start.
  bool Seek(int64_t offset);
  // Moves to the end and reports the length.
  bool SeekEnd(int64_t* length);
  // Forces the written data to the disk.
  bool Sync();
  // Closes the file; false when the system reports a failure (the file is closed all the same).
  bool Close();

 private:
  static constexpr intptr_t kInvalid = -1;
  intptr_t handle_ = kInvalid;  // a HANDLE on Windows, a descriptor on POSIX
};

// True when |path| names an existing regular file that an open for writing with no sharing
// would accept now: not read-only, writable by this user, and held open by no other opener.
// On Windows a hidden or system file counts as refused too, as it does for a create-or-truncate
// open; on POSIX a file with no write permission bit at all counts as read-only, even for root.
// False also when the check itself fails.
bool IsWritable(const std::string& path);

// Puts the file |replacement| in place of the existing file |target| in one step, so that
// |target| names either its old content or the whole new one, never anything in between. Both
// must lie in the same directory. |written| is |replacement| still open from its writing: it stays
// open, and so held against other runs, for as long as the platform allows; the caller closes it
// if it is still open afterwards. What the product relies on is kept:
// - Windows: |written| is closed first (the replace needs it); then ReplaceFileA, which keeps the
//   replaced file's attributes and security, with a backup name beside it; when the replace
//   reports that it could not finish, the original is moved back from the backup; after success
//   the backup is removed.
// - POSIX: |replacement| takes over the mode, owner and group of |target|, then is renamed over
//   it and the directory is synced. A symbolic link is followed: the file it points to is replaced
//   and the link stays (the link's target must be on the same file system).
// False when nothing was replaced; |replacement| is then left for the caller to remove.
bool AtomicReplace(const std::string& target, const std::string& replacement, File* written);

// Removes the file |path|.
bool RemoveFile(const std::string& path);

}  // namespace platform
