// The installer launch.
#include "app/run_program.h"

#include <cstdint>
#include <string>

#include "os/file_location.h"
#include "os/watchdog.h"

namespace {

// The launcher runs elevated: a program named without a directory must come from beside the
// launcher, never from the current directory or PATH.
os::FileLocation ApplicationPath(const std::string& program) {
  if (!os::FileLocation::IsBareName(program)) return program;
  return os::FileLocation::BesideLauncher(program);
}

// The file name of |program|, which its copy in the clean room keeps.
std::string FileName(const std::string& program) {
  return program.substr(program.find_last_of("\\/:") + 1);
}

}  // namespace

int RunProgram(const char* program, const char* arguments, int showMode, int wait,
               os::StartResult* start, const os::File* shared, const uint8_t* sha256) {
  os::StartResult result;
  if (start == nullptr) start = &result;
  *start = os::StartResult{os::StartFailure::kFailed, 0};
  const std::string commandLine = std::string("\"") + program + "\" " + arguments;
  // Declared first, so that the copy stays held until the program's handles are closed.
  os::CleanRoom room;
  // Only the system's start of the program counts as started: until then, whatever ends the
  // launch early, an allocation that fails included, leaves |*start| a failure.
  const os::StartResult filled = room.Fill(ApplicationPath(program), FileName(program), sha256);
  if (filled.failure != os::StartFailure::kNone) {
    *start = filled;
    return -1;
  }
  os::Process process;
  *start = os::Process::Start(&room, commandLine, static_cast<uint16_t>(showMode & 0xFFFF), shared,
                              &process);
  if (start->failure != os::StartFailure::kNone) return -1;
  if (!wait) return 0;  // the handles close at once; the program runs on
  uint32_t code = 0;
  bool ended = false;
  {
    os::UnboundedWait installing;  // the installer takes the time it needs
    ended = process.Wait();
  }
  if (!ended || !process.ExitCode(&code)) return -1;
  return static_cast<int32_t>(code);
}
