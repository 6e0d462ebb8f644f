// Started programs: creation with inherited handles, an unbounded wait, the exit code.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_location.h"

namespace platform {

// A move-only owner of a started program's handles (thread and process, closed in that order).
class Process {
 public:
  Process() = default;
  ~Process() { Close(); }
  Process(Process&& other) noexcept
      : process_(other.process_), thread_(other.thread_), status_(other.status_) {
    other.process_ = other.thread_ = 0;
  }
  Process& operator=(Process&& other) noexcept {
    if (this != &other) {
      Close();
      process_ = other.process_;
      thread_ = other.thread_;
      status_ = other.status_;
      other.process_ = other.thread_ = 0;
    }
    return *this;
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

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
  void Close();

 private:
  intptr_t process_ = 0;  // a HANDLE on Windows, a pid on POSIX
  intptr_t thread_ = 0;
  int status_ = 0;  // POSIX: the wait status once waited for
};

}  // namespace platform
