// The installer launch.
#include "app/run_program.h"

#include <cstdint>
#include <string>

#include "os/file_location.h"

namespace {

// The launcher runs elevated: a program named without a directory must come from beside the
// launcher, never from the current directory or PATH.
platform::FileLocation ApplicationPath(const std::string& program) {
  if (!platform::FileLocation::IsBareName(program)) return program;
  return platform::FileLocation::BesideLauncher(program);
}

// The file name of |program|, which its copy in the clean room keeps.
std::string FileName(const std::string& program) {
  return program.substr(program.find_last_of("\\/:") + 1);
}

}  // namespace

int RunProgram(const char* program, const char* arguments, int showMode, int wait,
               platform::StartResult* start, const platform::File* shared,
               const uint8_t* sha256) {
  platform::StartResult result;
  if (start == nullptr) start = &result;
  *start = platform::StartResult{platform::StartFailure::kFailed, 0};
  const std::string commandLine = std::string("\"") + program + "\" " + arguments;
  // Declared first, so that the copy stays held until the program's handles are closed.
  platform::CleanRoom room;
  *start = room.Fill(ApplicationPath(program), FileName(program), sha256);
  if (start->failure != platform::StartFailure::kNone) return -1;
  platform::Process process;
  *start = platform::Process::Start(&room, commandLine, static_cast<uint16_t>(showMode & 0xFFFF),
                                    shared, &process);
  if (start->failure != platform::StartFailure::kNone) return -1;
  if (!wait) return 0;  // the handles close at once; the program runs on
  uint32_t code = 0;
  if (!process.Wait() || !process.ExitCode(&code)) return -1;
  return static_cast<int32_t>(code);
}
