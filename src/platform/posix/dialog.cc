// The message box on POSIX: printed to standard error, answered at once with OK.
#include <cstdio>

#include "platform/dialog.h"
#include "platform/posix/paths.h"

namespace platform {

int ShowMessageBox(const char* caption, const char* text, unsigned /*style*/) {
  std::string line = posix::Cp1252ToUtf8(caption) + ": " + posix::Cp1252ToUtf8(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  return kIdOk;
}

}  // namespace platform
