// A support tool's output and named files on Windows: the C runtime's binary mode, full paths.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include "platform/tool.h"

namespace platform {

void SetBinaryOutput() { _setmode(_fileno(stdout), _O_BINARY); }

std::string ArgumentText(const char* argument) { return argument; }

std::string NamedFile(const char* argument) {
  // A full path is taken as it is, where a bare name would be looked up as a library.
  char buffer[MAX_PATH] = {};
  DWORD n = GetFullPathNameA(argument, MAX_PATH, buffer, nullptr);
  if (n == 0 || n >= MAX_PATH) return std::string();
  return std::string(buffer, n);
}

}  // namespace platform
