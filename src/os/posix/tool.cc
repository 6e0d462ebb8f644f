// A support tool's output, named files and query paths on POSIX: host paths as any Linux tool
// takes them, drive paths over the machine root, cp1252 texts.
#include <unistd.h>

#include <climits>

#include "machine/paths.h"
#include "os/tool.h"

namespace os {

std::u16string Utf16FromAnsi(const std::string& text) {
  std::u16string wide(text.size(), u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    wide[i] = machine::Cp1252ToUnicode(static_cast<uint8_t>(text[i]));
  return wide;
}

void SetBinaryOutput() {}

std::string ArgumentText(const char* argument) { return machine::Utf8ToCp1252(argument); }

std::string NamedFile(const char* argument) {
  std::string text = machine::Utf8ToCp1252(argument);
  if (text.size() >= 2 && text[1] == ':' &&
      ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'))) {
    return text;
  }
  // Only a relative path leaves the machine root, so a host path is written relative to the
  // current directory: an absolute one climbs from there to the host's root first.
  std::string path = ".\\";
  if (!text.empty() && text[0] == '/') {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof(cwd)) == nullptr) return std::string();
    for (const char* c = cwd; *c; ++c) {
      if (*c == '/' && c[1] != '\0' && c[1] != '/') path += "..\\";
    }
    text.erase(0, text.find_first_not_of('/'));
  }
  return path + text;
}

const VersionLibrary* SystemVersionLibrary() { return nullptr; }

}  // namespace os
