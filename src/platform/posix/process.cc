// Started programs on POSIX: posix_spawn with the Windows command line split into arguments.
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <vector>

#include "platform/posix/paths.h"
#include "platform/process.h"

extern char** environ;

namespace platform {

bool Process::Start(const FileLocation& application, const std::string& commandLine,
                    uint16_t /*show: no windows here*/, Process* out) {
  std::string host;
  if (!posix::HostPath(application, &host)) return false;
  std::vector<std::string> args = posix::SplitCommandLine(commandLine);
  for (std::string& arg : args) arg = posix::Cp1252ToUtf8(arg);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, host.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
  Process process;
  process.process_ = ScopedHandle<ProcessPolicy>(pid);
  *out = std::move(process);
  return true;
}

bool Process::Wait() {
  pid_t pid;
  do {
    pid = ::waitpid(static_cast<pid_t>(process_.Get()), &status_, 0);
  } while (pid < 0 && errno == EINTR);
  if (pid < 0) return false;
  thread_ = ScopedHandle<ProcessPolicy>(1);  // reaped: the exit status is known
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

bool ProcessPolicy::Close(Handle /*handle*/) {
  // Nothing to release: a child not waited for is left to run on its own, as on Windows.
  return true;
}

}  // namespace platform
