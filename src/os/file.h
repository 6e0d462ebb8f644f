// Open files: the only way the program reads or writes file contents.
// Paths are Windows paths in cp1252; every call is counted by the fault-injection seam.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/scoped_handle.h"
#include "os/file_location.h"

namespace os {

namespace internal {
class FileAccess;
}  // namespace internal

// How an open, a creation, a replace or another call on a file was answered.
enum class OpenStatus {
  kDone,
  kMissing,  // no such file or folder
  kInUse,    // another program holds it now: a sharing violation, or a delete pending
  kRefused,  // a link, a reparse point, a file of several names, or not the kind asked for
  kNoSpace,  // the disk is full
  kDenied,   // access denied
  kFailed,   // any other failure
};

// Why a call failed: what the answer means to the program, and the system's own number for it
// (errno on POSIX; a Win32 error on Windows, an NTSTATUS converted to one). The number is 0 when
// the program refused by itself; a fault injected by a test stands for an input/output error.
struct Failure {
  OpenStatus status = OpenStatus::kFailed;
  uint32_t error = 0;
};

enum class FileMode {
  kRead,        // an existing file, for reading
  kAppend,      // for writing, created when missing, content kept, position at the end
  kTruncate,    // for writing, created when missing, cut to length 0
  kReadShared,  // an existing file, for reading, shared with other readers only (the version
                // reader, which keeps it from changing while the system's library reads it);
                // fails while another opener holds it with no sharing or for writing
  kCreateNew,   // a new file, for writing, with no other opener; fails when the name exists.
                // On POSIX it may be run (mode 0700)
};

// How an open file or a held folder, which the system opens as a file, is given back
// (CloseHandle, close), counted by the fault seam; each platform defines PlatformClose.
struct FilePolicy {
  using Handle = intptr_t;  // a HANDLE on Windows, a descriptor on POSIX
  static constexpr Handle kInvalid = -1;
  static bool Close(Handle handle);

 private:
  static bool PlatformClose(Handle handle);
};

// A move-only owner of one open file. No other opener may share the file while it is open
// (on POSIX: an exclusive flock, taken before anything is cut), except in mode kReadShared
// (on POSIX: a shared flock).
class File {
 public:
  bool IsOpen() const { return handle_.IsValid(); }

  // Reads exactly |size| bytes; false on a failure or when the file ends first.
  [[nodiscard]] bool ReadExactly(void* buffer, size_t size);
  // Writes all |size| bytes or fails.
  bool Write(const void* data, size_t size);
  // Moves to |offset| bytes from the start.
  bool Seek(int64_t offset);
  // Moves to the end and reports the length.
  bool SeekEnd(int64_t* length);
  // Cuts the file to length 0, the position at its start.
  bool Truncate();
  // Forces the written data to the disk.
  bool Sync();
  // Why the last Read, Write, Seek, SeekEnd or Sync of this file that failed did.
  const Failure& WhyFailed() const { return failure_; }
  // Closes the file; false when the system reports a failure (the file is closed all the same).
  bool Close() { return handle_.Close(); }

  // True when an open of the file for writing would not be refused for its own settings: not
  // read-only (on Windows not hidden or system either, as a create-or-truncate open refuses
  // those; on POSIX a file with no write permission bit at all is read-only, even for root), and
  // writable by this user. False also when the check fails.
  bool AcceptsWriting() const;

 private:
  friend class Folder;  // which opens files relative to itself
  // The seam's own code opens the program that a clean room copies, reads it a piece at a time,
  // and hands files to the system by their handles.
  friend class internal::FileAccess;

  // Opens the program file |path| (a full path, or a file beside the launcher) to read and copy
  // it, shared with readers only, every link on its way followed: the launcher's folder and the
  // paths it is given are the administrator's. |out| is left untouched on failure.
  [[nodiscard]] static OpenStatus OpenProgram(const FileLocation& path, File* out, Failure* why);

  // The platform's handle (a HANDLE on Windows, a descriptor on POSIX), for the platform's own use.
  intptr_t NativeHandle() const { return handle_.Get(); }

  // Reads up to |size| bytes; |*got| is 0 at the end of the file.
  bool Read(void* buffer, size_t size, size_t* got);

  // The public calls count themselves at the fault seam, then take one of these steps, which
  // each platform defines.
  [[nodiscard]] static OpenStatus PlatformOpenProgram(const FileLocation& path, File* out,
                                                      Failure* why);
  bool PlatformRead(void* buffer, size_t size, size_t* got);
  bool PlatformWrite(const void* data, size_t size);
  bool PlatformSeek(int64_t offset);
  bool PlatformSeekEnd(int64_t* length);
  bool PlatformTruncate();
  bool PlatformSync();
  bool PlatformAcceptsWriting() const;

  // The failure that a call struck at the fault seam reports, as a failing disk would: the
  // system's input/output error. Each platform defines it.
  static Failure StruckFailure();

  // Records why a call on this file failed; returns false, the call's answer. FailStruck records
  // the failure of a struck call.
  bool Fail();
  bool FailStruck();

  base::ScopedHandle<FilePolicy> handle_;
  Failure failure_;
};

}  // namespace os
