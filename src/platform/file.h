// Files opened with no sharing: the only way the program reads or writes file contents.
// Paths are Windows paths in cp1252; every call is counted by the fault-injection seam.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_location.h"
#include "platform/scoped_handle.h"

namespace platform {

enum class FileMode {
  kRead,       // an existing file, for reading
  kAppend,     // for writing, created when missing, content kept, position at the end
  kTruncate,   // for writing, created when missing, cut to length 0
  kReadShared,  // an existing file, for reading, shared with other readers only (the version
                // reader, which keeps it from changing while the system's library reads it);
                // fails while another opener holds it with no sharing or for writing
};

// How an open file is given back (CloseHandle, close), counted by the fault seam; each platform
// defines Close.
struct FilePolicy {
  using Handle = intptr_t;  // a HANDLE on Windows, a descriptor on POSIX
  static constexpr Handle kInvalid = -1;
  static bool Close(Handle handle);
};

// A move-only owner of one open file. No other opener may share the file while it is open
// (on POSIX: an exclusive flock, taken before anything is cut), except in mode kReadShared
// (on POSIX: a shared flock).
class File {
 public:
  // Opens |path|; |out| is left untouched on failure. An |inheritable| file stays open in
  // programs started while it is open.
  [[nodiscard]] static bool Open(const FileLocation& path, FileMode mode, bool inheritable,
                                 File* out);

  // Creates the new file |path| that AtomicReplace is to put in place of the existing file
  // |target|, for writing with no sharing; fails when |path| exists, whatever it is. On Windows
  // it is made with |target|'s DACL, and its owner where the system lets this program set it,
  // so that nobody can change it who could not change |target|. |out| is left untouched on
  // failure.
  [[nodiscard]] static bool CreateReplacement(const std::string& target, const std::string& path,
                                              File* out);

  bool IsOpen() const { return handle_.IsValid(); }
  // The platform's handle (a HANDLE on Windows, a descriptor on POSIX), for the platform's own use.
  intptr_t NativeHandle() const { return handle_.Get(); }

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
  // Starts the written data on its way to the disk without waiting for it, where the system has
  // a call for that (Linux), so that a long write and its Sync overlap. Advisory: nothing fails.
  void StartSync();
  // Closes the file; false when the system reports a failure (the file is closed all the same).
  bool Close() { return handle_.Close(); }

 private:
  ScopedHandle<FilePolicy> handle_;
};

// True when |path| names an existing regular file that an open for writing with no sharing
// would accept now: not read-only, writable by this user, and held open by no other opener.
// On Windows a hidden or system file counts as refused too, as it does for a create-or-truncate
// open; on POSIX a file with no write permission bit at all counts as read-only, even for root.
// False also when the check itself fails.
bool IsWritable(const std::string& path);

// Puts the file |written| has written, named |replacement| and made by CreateReplacement, in
// place of the existing file |target| in one step, so that |target| names either its old content
// or the whole new one, never anything in between, and never a file that another program put
// there. Both lie in the same directory. |written| stays open; the caller closes it.
// - Windows: |replacement| takes over |target|'s creation time and its archive and
//   not-content-indexed attributes, then is renamed over |target| through the handle it was
//   written with: no other program can have changed or swapped it on the way. A target that
//   another program holds open is not replaced.
// - POSIX: |replacement| takes over the mode, owner and group of |target|, then is renamed over
//   it and the directory is synced. A symbolic link is followed: the file it points to is replaced
//   and the link stays (the link's target must be on the same file system).
// False when nothing was replaced; |replacement| is then left for the caller to remove.
[[nodiscard]] bool AtomicReplace(const std::string& target, const std::string& replacement,
                                 File* written);

// Removes the file |written| has written, named |replacement| and made by CreateReplacement, and
// closes it; on Windows through its handle, whatever attributes it was given on the way.
bool DiscardReplacement(const std::string& replacement, File* written);

// True when |path| itself is a regular file: not a directory, and not a symbolic link or other
// reparse point, which are not followed.
bool IsPlainFile(const std::string& path);

// Gives the file |from| the name |to| in the same directory; fails when |to| exists.
[[nodiscard]] bool RenameFile(const std::string& from, const std::string& to);

// Removes the file |path|.
bool RemoveFile(const std::string& path);

// How an update lock is given up; each platform defines Close.
struct UpdateLockPolicy {
  using Handle = intptr_t;  // a mutex HANDLE on Windows, a directory's descriptor on POSIX
  static constexpr Handle kInvalid = -1;
  static bool Close(Handle handle);
};

// Keeps other runs of the program from updating the file |path| while it is held: one run at a
// time holds it, and it is released when the run ends, however it ends. Nothing is left on disk.
// Windows: a named mutex; POSIX: a lock on the file's directory.
class UpdateLock {
 public:
  // Takes the lock for |path|, waiting up to |milliseconds| for the run that holds it; false
  // when it could not be taken.
  [[nodiscard]] bool Acquire(const std::string& path, unsigned milliseconds);

 private:
  ScopedHandle<UpdateLockPolicy> handle_;
};

}  // namespace platform
