// Started programs: the clean room they run from, the one handle they share, an unbounded wait,
// the exit code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/scoped_handle.h"
#include "os/file.h"
#include "os/file_location.h"

namespace platform {

// Why a program was not started.
enum class StartFailure {
  kNone,
  kMissing,      // its file cannot be opened or read
  kNotReleased,  // its bytes are not the released installer's
  kCleanRoom,    // its clean room could not be made or filled
  kRefused,      // the system would not start a program there (a software restriction rule)
  kFailed,       // any other failure to start
};

// What became of a start: the failure, and the system's error number where it has one.
struct StartResult {
  StartFailure failure = StartFailure::kNone;
  uint32_t error = 0;
};

// How a clean room's folders and files are given back; each platform defines Close.
struct CleanRoomPolicy {
  using Handle = intptr_t;  // a HANDLE on Windows, a descriptor on POSIX
  static constexpr Handle kInvalid = -1;
  static bool Close(Handle handle);
};

// A folder of the launcher's own, with a new random name under the system's Temp folder
// (C:\Windows\Temp; <root>/drive_c/windows/Temp on POSIX), that only the administrators and the
// system can write, holding one copy of the program to start. The copy is made from the one
// handle whose bytes are hashed, so the program started is exactly the bytes that were checked,
// and no library or file that a standard user planted beside the launcher is in its folder. The
// copy is held against writers, renames and removal until this object goes, which then removes
// it and the folder through their handles.
class CleanRoom {
 public:
  static constexpr size_t kSha256Size = 32;

  CleanRoom() = default;
  ~CleanRoom() { Remove(); }
  CleanRoom(const CleanRoom&) = delete;
  CleanRoom& operator=(const CleanRoom&) = delete;

  // Removes the rooms that killed runs left (certainly ours: our prefix, owned by the
  // administrators or the system, with nothing inside that is a link or has a second name),
  // makes this one, and copies |source| (a full path, or a file beside the launcher) into it as
  // |name|, in one pass that hashes what it reads. With |sha256| (kSha256Size bytes), bytes of
  // another digest are not kept. On failure nothing is left behind.
  [[nodiscard]] StartResult Fill(const FileLocation& source, const std::string& name,
                                 const uint8_t* sha256);

 private:
  friend class Process;
  // Removes the copy and the folder, through their handles; what cannot be removed now (the
  // program still runs) is left to the next run.
  void Remove();

  ScopedHandle<CleanRoomPolicy> temp_;    // POSIX: the held Temp folder
  ScopedHandle<CleanRoomPolicy> folder_;  // the room, held without delete sharing
  ScopedHandle<CleanRoomPolicy> copy_;    // the copy, shared with readers only
  std::string folderName_;                // the room's name in the Temp folder
  std::string copyName_;                  // the copy's name in the room
};

// How a started program's handles are given back; each platform defines Close.
struct ProcessPolicy {
  using Handle = intptr_t;  // a HANDLE on Windows; a pid, or a mark, on POSIX
  static constexpr Handle kInvalid = 0;
  static bool Close(Handle handle);
};

// A move-only owner of a started program's handles (thread and process, closed in that order).
class Process {
 public:
  Process() = default;
  ~Process() { Close(); }
  Process(Process&&) noexcept = default;
  Process& operator=(Process&&) noexcept = default;

  // Starts the copy in the filled |room| by its full path, with |commandLine| as its command
  // line, the launcher's environment, the room as its current directory, and |show| as the show
  // hint of its first window; on Windows, where the system offers it, libraries load from
  // System32 first. Of the launcher's handles it inherits |shared| alone, when given and open,
  // which must have been opened inheritable (the standard streams stay on POSIX). |out| is left
  // untouched on failure.
  [[nodiscard]] static StartResult Start(const CleanRoom& room, const std::string& commandLine,
                                         uint16_t show, const File* shared, Process* out);

  // Waits without time-out until the program has ended.
  bool Wait();
  // The exit code of an ended program.
  bool ExitCode(uint32_t* code);
  // Closes the thread handle, then the process handle.
  void Close() {
    thread_.Close();
    process_.Close();
  }

 private:
  // In this order, so that a move closes the thread handle first too.
  ScopedHandle<ProcessPolicy> thread_;   // Windows: the first thread; POSIX: set once reaped
  ScopedHandle<ProcessPolicy> process_;  // a HANDLE on Windows, a pid on POSIX
  int status_ = 0;                       // POSIX: the wait status once waited for
};

}  // namespace platform
