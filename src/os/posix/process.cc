// Started programs on POSIX: posix_spawn of the split command line in the held clean room, and
// the launcher made the subreaper of what its programs start.
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "machine/host_io.h"
#include "machine/paths.h"
#include "os/account.h"
#include "os/process.h"
#include "os/internal/access.h"
#include "os/internal/process.h"
#include "os/posix/host.h"

extern char** environ;

namespace os {

using internal::FileAccess;
using internal::FolderAccess;

namespace {

// Spawn file actions that leave the child only the descriptors in |kept| (ascending) and the
// standard streams, and make the held folder |folder| its current directory. The descriptors of
// the launcher's own files are close-on-exec already; this also closes any that the launcher got
// open from its caller.
class ChildFiles {
 public:
  ChildFiles() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
  ~ChildFiles() {
    if (ok_) ::posix_spawn_file_actions_destroy(&actions_);
  }
  ChildFiles(const ChildFiles&) = delete;
  ChildFiles& operator=(const ChildFiles&) = delete;

  bool Arrange(const std::vector<int>& kept, int folder) {
    int next = 3;
    for (int fd : kept) {
      for (; ok_ && next < fd; ++next)
        ok_ = ::posix_spawn_file_actions_addclose(&actions_, next) == 0;
      next = fd + 1;
    }
    ok_ = ok_ && ::posix_spawn_file_actions_addclosefrom_np(&actions_, next) == 0 &&
          ::posix_spawn_file_actions_addfchdir_np(&actions_, folder) == 0;
    return ok_;
  }
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
  bool ok_ = false;
};

// The names of the environment's Temp folders.
const char* const kTempNames[] = {"TEMP", "TMP"};

// The launcher's environment, with TEMP and TMP naming the host folder |temp| when it is not
// empty, in |*texts| and, pointing into them, |*entries| as posix_spawn takes it.
void ProgramEnvironment(const std::string& temp, std::vector<std::string>* texts,
                        std::vector<char*>* entries) {
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const bool replaced =
        !temp.empty() &&
        std::any_of(std::begin(kTempNames), std::end(kTempNames), [&](const char* name) {
          const size_t n = std::strlen(name);
          return std::strncmp(*entry, name, n) == 0 && (*entry)[n] == '=';
        });
    if (!replaced) texts->push_back(*entry);
  }
  if (!temp.empty()) {
    for (const char* name : kTempNames) texts->push_back(std::string(name) + "=" + temp);
  }
  for (std::string& text : *texts) entries->push_back(&text[0]);
  entries->push_back(nullptr);
}

// The host path of the held folder |folder|, as the system names its descriptor; empty when it
// cannot be read.
std::string HeldFolderPath(const Folder& folder) {
  const std::string link = "/proc/self/fd/" + std::to_string(FolderAccess::NativeHandle(folder));
  std::vector<char> path(4096);
  const ssize_t n = ::readlink(link.c_str(), path.data(), path.size());
  return n > 0 && static_cast<size_t>(n) < path.size() ? std::string(path.data(), n)
                                                       : std::string();
}

}  // namespace

bool OwnTempIsPrivate() {
  // The system account's Temp is the machine's C:\Windows\Temp, where every user may add files
  // and folders, as Windows lets them.
  if (RunAccountSid() == kSystemSid) return false;
  for (const char* name : kTempNames) {
    const char* path = std::getenv(name);
    if (path == nullptr) continue;
    // Links followed: the folder is the run's own.
    struct stat st;
    if (::stat(path, &st) != 0 || !posix::IsPrivateFolder(st)) return false;
  }
  return true;
}

const uint32_t Process::kRefusedByRule = EACCES;

StartResult Process::PlatformStart(CleanRoom* room, const std::string& commandLine,
                                   uint16_t /*show: no windows here*/, const File* shared,
                                   Process* out) {
  // The copy is run by its name in the held room, the program's current directory: nobody else
  // can write there, and an interpreter that reads a script after the start finds it there too.
  // The room's descriptor is close-on-exec, so it stays open through the file actions and
  // closes as the program starts. The program keeps a duplicate of it, and with it the room's
  // lock, for as long as it or any program it starts holds it: no later run empties the room
  // before then.
  const int folder = static_cast<int>(FolderAccess::NativeHandle(room->room_));
  const std::string program = "./" + room->copyName_;
  std::vector<std::string> args = posix::SplitCommandLine(commandLine);
  for (std::string& arg : args) arg = machine::Cp1252ToUtf8(arg);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  std::string temp;
  if (FolderAccess::IsOpen(room->temp_)) {
    temp = HeldFolderPath(room->temp_);
    if (temp.empty()) return StartResult{StartFailure::kFailed, static_cast<uint32_t>(errno)};
  }
  std::vector<std::string> environment;
  std::vector<char*> entries;
  ProgramEnvironment(temp, &environment, &entries);
  std::vector<int> kept;
  kept.reserve(3);  // nothing allocates from the duplicate's making to its closing
  const int held = ::dup(folder);
  if (held < 0) return StartResult{StartFailure::kFailed, static_cast<uint32_t>(errno)};
  kept = {folder, held};
  if (shared && shared->IsOpen()) {
    kept.push_back(static_cast<int>(FileAccess::NativeHandle(*shared)));
  }
  std::sort(kept.begin(), kept.end());
  ChildFiles files;
  if (!files.Arrange(kept, folder)) {
    const int error = errno;
    ::close(held);
    return StartResult{StartFailure::kFailed, static_cast<uint32_t>(error)};
  }
  // What the program starts and leaves behind comes back to the launcher, which then knows
  // whether any of it still runs before the room is removed.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  pid_t pid = 0;
  const int error =
      ::posix_spawn(&pid, program.c_str(), files.get(), nullptr, argv.data(), entries.data());
  ::close(held);
  // A room mounted without the right to run programs stands for a rule that forbids them there.
  if (error != 0) {
    const bool refused = error == EACCES || error == EPERM;
    return StartResult{refused ? StartFailure::kRefused : StartFailure::kFailed,
                       static_cast<uint32_t>(error)};
  }
  Process process;
  process.process_ = base::ScopedHandle<ProcessPolicy>(pid);
  *out = std::move(process);
  room->programs_ = base::ScopedHandle<ProcessPolicy>(pid);  // the mark that something was started
  return StartResult{};
}

bool Process::Wait() {
  pid_t pid;
  do {
    pid = ::waitpid(static_cast<pid_t>(process_.Get()), &status_, 0);
  } while (pid < 0 && errno == EINTR);
  if (pid < 0) return false;
  thread_ = base::ScopedHandle<ProcessPolicy>(1);  // reaped: the exit status is known
  return true;
}

bool Process::ExitCode(uint32_t* code) {
  if (!thread_.IsValid()) return false;
  if (WIFEXITED(status_)) {
    *code = static_cast<uint32_t>(WEXITSTATUS(status_));
  } else if (WIFSIGNALED(status_)) {
    *code = 128u + static_cast<uint32_t>(WTERMSIG(status_));
  } else {
    return false;
  }
  return true;
}

bool ProgramsRun(const base::ScopedHandle<ProcessPolicy>& programs) {
  if (!programs.IsValid()) return false;  // nothing was started from the room
  // This program's children: those that have ended are reaped on the way; one that still runs
  // answers 0.
  pid_t pid;
  int status;
  while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0 || (pid < 0 && errno == EINTR)) {
  }
  return pid == 0;
}

bool ProcessPolicy::Close(Handle /*handle*/) {
  // Nothing to release: a child not waited for is left to run on its own, as on Windows.
  return true;
}

}  // namespace os
