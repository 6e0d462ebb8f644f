// The message box on POSIX: printed to standard error, answered at once with OK.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "machine/paths.h"
#include "os/dialog.h"

namespace os {

namespace {

// ORVAPATCH_SESSION=service stands for the window station of a program that a deployment agent
// started as SYSTEM in session 0, which nobody sees.
bool StationVisible() {
  const char* session = std::getenv("ORVAPATCH_SESSION");
  return session == nullptr || std::strcmp(session, "service") != 0;
}

}  // namespace

int ShowMessageBox(const char* caption, const char* text, unsigned /*style*/) {
  if (!StationVisible()) return 0;
  std::string line = machine::Cp1252ToUtf8(caption) + ": " + machine::Cp1252ToUtf8(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  return kIdOk;
}

}  // namespace os
