// The installer launch.
#include "app/run_program.h"

#include <cstdint>
#include <string>

#include "platform/file_location.h"
#include "platform/process.h"

namespace {

// The launcher runs elevated: a program named without a directory must come from beside the
// launcher, never from the current directory or PATH, so it is started by its full path.
platform::FileLocation ApplicationPath(const std::string& program) {
  if (!platform::FileLocation::IsBareName(program)) return program;
  return platform::FileLocation::BesideLauncher(program);
}

}  // namespace

int RunProgram(const char* program, const char* arguments, int showMode, int wait,
               bool* started, const platform::File* shared, const uint8_t* sha256) {
  if (started) *started = false;
  std::string commandLine = std::string("\"") + program + "\" " + arguments;
  const platform::FileLocation application = ApplicationPath(program);
  // Declared first, so that the file stays held until the program's handles are closed.
  platform::ProgramFile checked;
  if (sha256 && !checked.OpenChecked(application, sha256)) return -1;
  platform::Process process;
  if (!platform::Process::Start(application, commandLine,
                                static_cast<uint16_t>(showMode & 0xFFFF), shared,
                                sha256 ? &checked : nullptr, &process)) {
    return -1;
  }
  if (started) *started = true;
  if (!wait) return 0;  // the handles close at once; the program runs on
  uint32_t code = 0;
  if (!process.Wait() || !process.ExitCode(&code)) return -1;
  return static_cast<int32_t>(code);
}
