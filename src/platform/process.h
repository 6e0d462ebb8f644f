// Started programs: creation with inherited handles, an unbounded wait, the exit code.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_location.h"
#include "platform/scoped_handle.h"

namespace platform {

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

  // Starts the program file |application| (a full path, or a file beside the launcher) with
  // |commandLine| as its command line, the launcher's environment and current directory,
  // inheritable handles passed on, and |show| as the show hint of its first window. |out| is
  // left untouched on failure.
  static bool Start(const FileLocation& application, const std::string& commandLine,
                    uint16_t show, Process* out);

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
