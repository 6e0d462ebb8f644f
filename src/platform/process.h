// Started programs: their checked file, the one handle they share, an unbounded wait, the exit code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file.h"
#include "platform/file_location.h"
#include "platform/scoped_handle.h"

namespace platform {

// How a started program's handles are given back; each platform defines Close.
struct ProcessPolicy {
  using Handle = intptr_t;  // a HANDLE on Windows; a pid, or a mark, on POSIX
  static constexpr Handle kInvalid = 0;
  static bool Close(Handle handle);
};

// How a checked program file is given back; each platform defines Close.
struct ProgramFilePolicy {
  using Handle = intptr_t;  // a HANDLE on Windows, a descriptor on POSIX
  static constexpr Handle kInvalid = -1;
  static bool Close(Handle handle);
};

// A program file held open from the check of its bytes until it is given up, so that nobody can
// write, rename or remove it meanwhile: on Windows shared with readers only (the system can
// still open it to start it), on POSIX under a shared flock, which writers of the machine root
// respect.
class ProgramFile {
 public:
  static constexpr size_t kSha256Size = 32;

  // Opens |application| (a full path, or a file beside the launcher) and hashes it through that
  // handle with a well-kept SHA-256 (the system's CryptoAPI on Windows, OpenSSL's libcrypto on
  // POSIX); false, holding nothing, when it cannot be opened or read or its SHA-256 is not the
  // kSha256Size bytes at |sha256|.
  [[nodiscard]] bool OpenChecked(const FileLocation& application, const uint8_t* sha256);

 private:
  friend class Process;
  ScopedHandle<ProgramFilePolicy> handle_;
};

// A move-only owner of a started program's handles (thread and process, closed in that order).
class Process {
 public:
  Process() = default;
  ~Process() { Close(); }
  Process(Process&&) noexcept = default;
  Process& operator=(Process&&) noexcept = default;

  // Starts the program file |application| (a full path, or a file beside the launcher) with
  // |commandLine| as its command line, the launcher's environment, the launcher's folder as its
  // current directory, and |show| as the show hint of its first window. Of the launcher's
  // handles it inherits |shared| alone, when given and open, which must have been opened
  // inheritable (the standard streams stay on POSIX). |checked|, when given, holds |application| open: the program started is the file
  // it checked. |out| is left untouched on failure.
  [[nodiscard]] static bool Start(const FileLocation& application, const std::string& commandLine,
                                  uint16_t show, const File* shared, const ProgramFile* checked,
                                  Process* out);

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
