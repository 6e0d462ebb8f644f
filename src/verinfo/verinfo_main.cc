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
// A file is named as for any tool of the platform (os/tool.h): a relative or bare name
// from the current directory, unlike the launcher's bare library names. By default it reads as
// the launcher does, with our own reader directly; with --query our reader answers through the
// three calls of a version library, and with --system (Windows build) the system's version
// library answers, so that the three can be compared.
// The exit status is 0 when every file was read, 1 when one was not, 2 without a file or when
// the system's library is asked for and cannot be had.
#include <cstdio>
#include <cstring>
#include <string>

#include "base/ascii.h"
#include "os/tool.h"
#include "verinfo/version_library.h"
#include "version/file_version_info.h"

namespace {

const char kUsage[] = "usage: verinfo [--query|--system] FILE...\n";

const char kHelp[] =
    "Prints the version information of each FILE as the launcher reads it: \"file\" and the\n"
    "name as given, \"result\" 1 when the version resource was read (else 0), the thirteen\n"
    "fields of the fixed block and the twelve strings, then an empty line. One text format for\n"
    "the Windows and the POSIX builds.\n"
    "\n"
    "Both builds read with the launcher's own reader, as the launcher reads. --query reads\n"
    "with the same reader through the three calls of a version library (size, read, query),\n"
    "as the system's library answers them. --system (Windows only) reads through the\n"
    "system's version library instead, which trusts what a file declares: for comparing\n"
    "them on sound files, never on damaged ones.\n"
    "\n"
    "FILE is read as named: absolute, or relative to the current directory (a bare name too).\n"
    "The POSIX build reads a drive path (C:\\WORVA32\\TarifLib.dll or C:/WORVA32/TarifLib.dll)\n"
    "in the machine root ($ORVAPATCH_ROOT) and any other name on the host.\n"
    "\n"
    "Exit status: 0 when every file was read, 1 when one was not, 2 without a file or\n"
    "without the system's library.\n";

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c <= 0x7E) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      base::AppendHex(&out, c, 2, true);
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
  os::SetBinaryOutput();  // LF line ends on both builds
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::printf("%s\n%s", kUsage, kHelp);
    return 0;
  }
  int first = 1;
  const os::VersionLibrary* library = nullptr;  // none: the launcher's direct reading
  if (argc > 1 && std::strcmp(argv[1], "--query") == 0) {
    first = 2;
    library = &verinfo::OwnVersionLibrary();
  } else if (argc > 1 && std::strcmp(argv[1], "--system") == 0) {
    first = 2;
    library = os::SystemVersionLibrary();
    if (library == nullptr) {
      std::fprintf(stderr, "verinfo: this build has no system version library to read with\n");
      return 2;
    }
  }
  if (argc <= first) {
    std::fprintf(stderr, "%s(verinfo --help tells more)\n", kUsage);
    return 2;
  }
  int status = 0;
  for (int i = first; i < argc; ++i) {
    CFileVersionInfo info;
    const std::string path = os::NamedFile(argv[i]);
    int result = path.empty() ? 0
                 : library    ? verinfo::LoadThrough(*library, path, &info)
                              : info.Load(path);
    if (result != 1) status = 1;
    Print(os::ArgumentText(argv[i]), info, result);
  }
  std::fflush(stdout);
  return status;
}
