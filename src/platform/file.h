// Files opened with no sharing: the only way the program reads or writes file contents.
// Paths are Windows paths in cp1252; every call is counted by the fault-injection seam.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

enum class FileMode {
  kRead,       // an existing file, for reading
  kAppend,     // for writing, created when missing, content kept, position at the end
  kTruncate,   // for writing, created when missing, cut to length 0
  kCreateNew,  // for writing, fails when the name exists (temporary files)
  kReadShared,  // an existing file, for reading, shared with other readers and writers (the
                // version reader); fails while another opener holds it with no sharing
};

// A move-only owner of one open file. No other opener may share the file while it is open
// (on POSIX: an exclusive flock, taken before anything is cut), except in mode kReadShared
// (on POSIX: a shared flock).
class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens |path|; |out| is left untouched on failure. An |inheritable| file stays open in
  // programs started while it is open.
  static bool Open(const std::string& path, FileMode mode, bool inheritable, File* out);

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

}  // namespace platform
