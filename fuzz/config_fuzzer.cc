// libFuzzer target for the configuration update. Each input holds a template and a configuration
// (two bytes, little-endian, give the template's length; the rest is the configuration). Both
// are written to a scratch installation directory on a machine root of their own, and the update
// runs on them. Checked: it returns 1; the configuration becomes exactly the text that a plain,
// obviously quadratic rendering of the same edits gives (or stays as it was when it reads empty);
// nothing else is left in the directory; and a second update of that result follows the same
// rendering, and changes nothing when the configuration held no element that the update removes.
// The edits are also given the text one to three lines at a time, as a long file is, in text mode
// and as stored, and held to the same rendering.
#include <dirent.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "config/configuration.h"
#include "config/edits.h"
#include "machine/paths.h"
#include "plain_text.h"
#include "os/posix/host.h"

namespace {

const char kDir[] = "C:\\WORVA32\\";
const char kVersionOpen[] = "<ssvModuleVersion>";
const char kVersionClose[] = "</ssvModuleVersion>";
const char kCodOpen[] = "<versionCOD>";
const char kCodClose[] = "</versionCOD>";
const char kContextOpen[] = "<contextFacturation>";
const char kContextClose[] = "</contextFacturation>";
const char kStsTag[] = "<ssvDesactivationSTS>";
const char kStsAnchor[] = "</ssvDesactivationControleSpecialitePS>";
const char kStsBlock[] =
    "\n<!-- Deactivation STS global -->\n<ssvDesactivationSTS>Non</ssvDesactivationSTS>\n";

std::string g_root;     // the machine root on the host, removed at exit
std::string g_hostDir;  // the installation directory on the host

// The file's text as the update sees it: CR LF read as LF, every line ended by LF.
std::string AsRead(const std::string& bytes) {
  std::string text = plain::Replaced(bytes, "\r\n", "\n");
  if (!text.empty() && text.back() != '\n') text += '\n';
  return text;
}

// Up to |count| characters from |first|; nothing for a negative count or a start past the end.
std::string Part(const std::string& text, long first, long count) {
  if (count <= 0 || first < 0 || static_cast<size_t>(first) >= text.size()) return std::string();
  return text.substr(static_cast<size_t>(first), static_cast<size_t>(count));
}

long Find(const std::string& text, const std::string& what) {
  size_t at = text.find(what);
  return at == std::string::npos ? -1 : static_cast<long>(at);
}

// The module version the template's bytes give, or none (empty).
std::string NewVersion(const std::string& templateBytes) {
  const std::string tpl = AsRead(templateBytes);
  long p = Find(tpl, kVersionOpen);
  if (p >= 0) {
    std::string candidate = Part(tpl, p + long{sizeof kVersionOpen} - 1, 21);
    if (candidate.size() == 21 && candidate.find('<') == std::string::npos &&
        tpl.compare(static_cast<size_t>(p) + sizeof kVersionOpen - 1 + 21, sizeof kVersionClose - 1,
                    kVersionClose) == 0) {
      return candidate;
    }
  }
  return std::string();
}

// The configuration's bytes after one update, from the template's and the configuration's bytes.
std::string Expected(const std::string& templateBytes, const std::string& configBytes) {
  std::string text = AsRead(configBytes);
  if (text.empty()) return configBytes;

  const std::string newVersion = NewVersion(templateBytes);
  std::string oldVersion, cod, context;
  long p = Find(text, kVersionOpen);
  if (p >= 0) {
    long first = p + long{sizeof kVersionOpen} - 1;
    oldVersion = Part(text, first, Find(text, kVersionClose) - first);
  }
  const bool haveCod = (p = Find(text, kCodOpen)) >= 0;
  if (haveCod) cod = Part(text, p + long{sizeof kCodOpen} - 1, 4);
  const bool haveContext = (p = Find(text, kContextOpen)) >= 0;
  if (haveContext) {
    long first = p + long{sizeof kContextOpen} - 1;
    context = Part(text, first, Find(text, kContextClose) - first);
  }

  if (haveCod) text = plain::Replaced(text, kCodOpen + cod + kCodClose, "");
  if (haveContext) text = plain::Replaced(text, kContextOpen + context + kContextClose, "");
  if (!newVersion.empty()) {
    text = plain::Replaced(text, kVersionOpen + oldVersion + kVersionClose,
                           kVersionOpen + newVersion + kVersionClose);
  }
  if (Find(text, kStsTag) < 0) {
    text = plain::Replaced(text, kStsAnchor, kStsAnchor + std::string(kStsBlock));
  }
  text = plain::Replaced(text, "<active>0</active>", "<active>1</active>");
  return plain::Replaced(text, "\n", "\r\n");
}

std::string ReadHost(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteHost(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) {
    std::perror(path.c_str());
    std::abort();
  }
}

std::set<std::string> Listing() {
  std::set<std::string> names;
  if (DIR* dir = opendir(g_hostDir.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    closedir(dir);
  }
  return names;
}

[[noreturn]] void Fail(const char* what, const std::string& expected, const std::string& actual) {
  std::fprintf(stderr, "config_fuzzer: %s\n--- expected (%zu bytes):\n", what, expected.size());
  std::fwrite(expected.data(), 1, expected.size(), stderr);
  std::fprintf(stderr, "\n--- actual (%zu bytes):\n", actual.size());
  std::fwrite(actual.data(), 1, actual.size(), stderr);
  std::fputc('\n', stderr);
  std::abort();
}

// Runs the update on the configuration as it stands and checks the result; returns the new bytes.
std::string UpdateAndCheck(const std::string& templateBytes, const std::string& before) {
  const std::string tpl = std::string(kDir) + "Configuration.tpl";
  const std::string xml = std::string(kDir) + "Configuration.xml";
  if (UpdateConfigurationFile(tpl, xml) != 1) Fail("the update did not return 1", "1", "0");
  const std::string after = ReadHost(g_hostDir + "/Configuration.xml");
  const std::string expected = Expected(templateBytes, before);
  if (after != expected) Fail("the configuration is not the expected text", expected, after);
  if (ReadHost(g_hostDir + "/Configuration.tpl") != templateBytes) {
    Fail("the template changed", templateBytes, ReadHost(g_hostDir + "/Configuration.tpl"));
  }
  const std::set<std::string> names = Listing();
  if (names != std::set<std::string>{"Configuration.tpl", "Configuration.xml"}) {
    std::string listing;
    for (const std::string& name : names) listing += name + "\n";
    Fail("other files are left in the directory", "Configuration.tpl\nConfiguration.xml\n",
         listing);
  }
  return after;
}

// Gives the edits the configuration's text |lines| lines at a time, as the update gives a long
// one, in text mode or as stored, and checks the result against the plain rendering, whether the
// runs went through or made the edits begin again with the whole text.
void CheckRuns(const std::string& templateBytes, const std::string& configBytes, size_t lines,
               config::LineEnd ends) {
  const std::string text = ends == config::LineEnd::kLf ? AsRead(configBytes) : configBytes;
  const std::string newVersion = NewVersion(templateBytes);
  const std::string* version = newVersion.empty() ? nullptr : &newVersion;
  if (text.empty()) return;
  std::string written;
  config::Edits edits(version, ends);
  for (size_t at = 0; at < text.size();) {
    size_t end = at;
    for (size_t k = 0; k < lines && end < text.size(); ++k) {
      end = std::min(text.find('\n', end), text.size() - 1) + 1;
    }
    std::string run = text.substr(at, end - at);
    at = end;
    if (!edits.Apply(&run, at == text.size())) {
      std::string edited = AsRead(configBytes);
      if (!config::Edits(version, config::LineEnd::kLf).Apply(&edited, true)) {
        Fail("the whole text failed", "", text);
      }
      written = plain::Replaced(edited, "\n", "\r\n");
      break;
    }
    written += ends == config::LineEnd::kLf ? plain::Replaced(run, "\n", "\r\n") : run;
  }
  const std::string expected = Expected(templateBytes, configBytes);
  if (written != expected) {
    Fail("the edits in runs differ from the plain rendering", expected, written);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* tmp = std::getenv("TMPDIR");
  g_root = std::string(tmp && *tmp ? tmp : "/tmp") + "/orvapatch-fuzz-XXXXXX";
  if (mkdtemp(&g_root[0]) == nullptr || setenv("ORVAPATCH_ROOT", g_root.c_str(), 1) != 0 ||
      !os::posix::HostPath(kDir, &g_hostDir)) {
    std::perror("config_fuzzer: machine root");
    std::abort();
  }
  g_hostDir.pop_back();  // the trailing separator
  std::filesystem::create_directories(g_hostDir);
  // The system's Temp folder, which every Windows has: the update locks lie below it.
  std::filesystem::create_directories(g_root + "/drive_c/windows/Temp");
  std::atexit([] { std::filesystem::remove_all(g_root); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::string input(reinterpret_cast<const char*>(data) + 2, size - 2);
  const size_t split = std::min<size_t>(data[0] | data[1] << 8, input.size());
  const std::string templateBytes = input.substr(0, split);
  const std::string configBytes = input.substr(split);
  WriteHost(g_hostDir + "/Configuration.tpl", templateBytes);
  WriteHost(g_hostDir + "/Configuration.xml", configBytes);

  CheckRuns(templateBytes, configBytes, 1 + data[0] % 3, config::LineEnd::kLf);
  CheckRuns(templateBytes, configBytes, 1 + data[1] % 3, config::LineEnd::kCrLf);
  const std::string once = UpdateAndCheck(templateBytes, configBytes);
  const std::string twice = UpdateAndCheck(templateBytes, once);
  // Removing elements can bring further ones, or another module version, to the front, which
  // the next update then edits: only a configuration without them is left as it is.
  const std::string text = AsRead(configBytes);
  if (text.find(kCodOpen) == std::string::npos && text.find(kContextOpen) == std::string::npos &&
      twice != once) {
    Fail("a second update changed a configuration that had nothing to remove", once, twice);
  }
  return 0;
}
