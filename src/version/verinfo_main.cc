// verinfo: prints what CFileVersionInfo::Load gives for each file named on the command line, in
// one text format that the Windows and the POSIX builds print alike for the same file:
//
//   file "<name as given>"
//   result 1
//   dwSignature 0xFEEF04BD          (the thirteen fields of the fixed block, 0x and 8 hex digits)
//   ...
//   CompanyName "ORVANE S.A."       (the twelve strings, quoted: '"' and '\' escaped with '\',
//   ...                              bytes outside 0x20..0x7E written as \xHH)
//   (an empty line)
//
// Names are Windows paths (in cp1252; on POSIX given in UTF-8 and mapped over the machine root).
// The exit status is 0 when every file was read, 1 when one was not, 2 without arguments.
#include <cstdio>
#include <string>

#include "version/file_version_info.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include "platform/posix/paths.h"
#endif

namespace {

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c <= 0x7E) {
      out += static_cast<char>(c);
    } else {
      char escape[5];
      std::snprintf(escape, sizeof(escape), "\\x%02X", c);
      out += escape;
    }
  }
  return out + "\"";
}

void Print(const std::string& shownName, const CFileVersionInfo& info, int result) {
  const FixedFileInfo& f = info.m_FileInfo;
  const struct {
    const char* name;
    uint32_t value;
  } fields[13] = {
      {"dwSignature", f.dwSignature},
      {"dwStrucVersion", f.dwStrucVersion},
      {"dwFileVersionMS", f.dwFileVersionMS},
      {"dwFileVersionLS", f.dwFileVersionLS},
      {"dwProductVersionMS", f.dwProductVersionMS},
      {"dwProductVersionLS", f.dwProductVersionLS},
      {"dwFileFlagsMask", f.dwFileFlagsMask},
      {"dwFileFlags", f.dwFileFlags},
      {"dwFileOS", f.dwFileOS},
      {"dwFileType", f.dwFileType},
      {"dwFileSubtype", f.dwFileSubtype},
      {"dwFileDateMS", f.dwFileDateMS},
      {"dwFileDateLS", f.dwFileDateLS},
  };
  std::printf("file %s\nresult %d\n", Quoted(shownName).c_str(), result);
  for (const auto& field : fields) {
    std::printf("%s 0x%08X\n", field.name, static_cast<unsigned>(field.value));
  }
  for (int i = 0; i < 12; ++i) {
    std::printf("%s %s\n", CFileVersionInfo::kStringKeys[i], Quoted(info.StringField(i)).c_str());
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);  // LF line ends, as on POSIX
#endif
  if (argc < 2) {
    std::fprintf(stderr, "usage: verinfo FILE...\n");
    return 2;
  }
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
#ifndef _WIN32
    name = platform::posix::Utf8ToCp1252(name);
#endif
    CFileVersionInfo info;
    int result = info.Load(name);
    if (result != 1) status = 1;
    Print(name, info, result);
  }
  std::fflush(stdout);
  return status;
}
