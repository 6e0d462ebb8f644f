// Started programs: the clean room they run from, the one handle they share, an unbounded wait,
// the exit code.
#pragma once

#include <cstdint>
#include <string>

#include "base/scoped_handle.h"
#include "os/file.h"
#include "os/file_location.h"
#include "os/folder.h"

namespace os {

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

// How a started program's handles are given back; each platform defines Close.
struct ProcessPolicy {
  using Handle = intptr_t;  // a HANDLE on Windows; a pid, or a mark, on POSIX
  static constexpr Handle kInvalid = 0;
  static bool Close(Handle handle);
};

// A folder of the launcher's own, with a new random name, that only the administrators and the
// system can write, holding one copy of the program to start. It is made in the rooms' folder of
// the system's Temp folder (C:\Windows\Temp\OrvaPatch; <root>/drive_c/windows/Temp/OrvaPatch on
// POSIX), which only they can write either, so that no standard user can make a folder at a
// room's path, even once it is removed. The copy is made from the one handle whose bytes are
// hashed, so the program started is exactly the bytes that were checked, and no library or file
// that a standard user planted beside the launcher is in its folder. The copy is held against
// writers, renames and removal until this object goes, which then removes it and the room
// through their handles, unless a program started from it still runs. Where the run's own Temp
// lets standard users add to it, the room also holds the program's Temp folder.
class CleanRoom {
 public:
  CleanRoom() = default;
  ~CleanRoom() { Remove(); }
  CleanRoom(const CleanRoom&) = delete;
  CleanRoom& operator=(const CleanRoom&) = delete;

  // Removes the rooms that killed runs left (those that no run holds, nothing in them followed
  // through a link), makes this one, and copies |source| (a full path, or a file beside the
  // launcher) into it as |name|, in one pass that hashes what it reads. With |sha256| (the 32
  // bytes of a SHA-256 digest), bytes of another digest are not kept. On failure nothing is left
  // behind.
  [[nodiscard]] StartResult Fill(const FileLocation& source, const std::string& name,
                                 const uint8_t* sha256);

 private:
  friend class Process;
  // Fill's copy of |from| into the room, and what holds it there: kNone, or why the program is
  // not started, with |*why|.
  [[nodiscard]] StartFailure CopyIn(File* from, const uint8_t* sha256, Failure* why);
  // Removes the copy and the room, through their handles, unless a program started from the room
  // still runs; what cannot be removed now is left to a later run. A room in the Temp folder
  // itself is emptied and kept.
  void Remove();

  Folder rooms_;  // the rooms' folder, or the Temp folder itself
  Folder room_;   // the room, held
  Folder temp_;   // the program's Temp folder in the room, when the run's own is not private
  File copy_;     // the copy, shared with readers only
  base::ScopedHandle<ProcessPolicy> programs_;  // Windows: the job of the programs started from it
  std::string roomName_;                        // the room's name in the rooms' folder
  std::string copyName_;                        // the copy's name in the room
  bool keep_ = false;                           // the room stays once emptied
};

// A move-only owner of a started program's handles (thread and process, closed in that order).
class Process {
 public:
  Process() = default;
  ~Process() { Close(); }
  Process(Process&&) noexcept = default;
  Process& operator=(Process&&) noexcept = default;

  // Starts the copy in the filled |room| (on Windows by its full path, on POSIX by its name in
  // the room, so that a script's interpreter reads it from there too), with |commandLine| as its
  // command line, the launcher's environment (TEMP and TMP naming the room's Temp folder, when it
  // has one: on POSIX by its host path), the room as its current directory, and |show| as the
  // show hint of its first window; on Windows, where the system offers it, libraries load from
  // System32 first, and the program and those it starts are kept in a job that the room asks
  // before it is removed. Of the launcher's handles it inherits |shared| alone, when given and
  // open, which must have been opened inheritable (the standard streams stay on POSIX). |out| is
  // left untouched on failure.
  [[nodiscard]] static StartResult Start(CleanRoom* room, const std::string& commandLine,
                                         uint16_t show, const File* shared, Process* out);

  // Waits without time-out until the program has ended.
  bool Wait();
  // The exit code of an ended program.
  bool ExitCode(uint32_t* code);

 private:
  // Closes the thread handle, then the process handle.
  void Close() {
    thread_.Close();
    process_.Close();
  }

  // The system's error of a start that a rule refuses, which a struck start gives.
  static const uint32_t kRefusedByRule;

  // Start's step once it is counted, which each platform defines.
  [[nodiscard]] static StartResult PlatformStart(CleanRoom* room, const std::string& commandLine,
                                                 uint16_t show, const File* shared, Process* out);

  // In this order, so that a move closes the thread handle first too.
  base::ScopedHandle<ProcessPolicy> thread_;   // Windows: the first thread; POSIX: set once reaped
  base::ScopedHandle<ProcessPolicy> process_;  // a HANDLE on Windows, a pid on POSIX
  int status_ = 0;                             // POSIX: the wait status once waited for
};

}  // namespace os
