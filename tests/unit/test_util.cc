// Test helpers over the host file system.
#include "test_util.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

#include "os/folder.h"
#include "os/known_folders.h"
#include "fault/fault.h"
#ifdef _WIN32
#include <windows.h>
#else
#include "machine/paths.h"
#include "os/posix/host.h"
#endif

namespace fs = std::filesystem;

namespace testutil {
namespace {
int g_counter = 0;
}

std::string Host(const std::string& windowsPath) {
#ifdef _WIN32
  return windowsPath;
#else
  std::string host;
  os::posix::HostPath(windowsPath, &host);
  return host;
#endif
}

std::string ProgramDirectory() {
#ifdef _WIN32
  char buffer[MAX_PATH] = {};
  std::string path(buffer, GetModuleFileNameA(nullptr, buffer, MAX_PATH));
  return path.substr(0, path.find_last_of("\\/") + 1);
#else
  std::string path = fs::canonical("/proc/self/exe").string();
  return path.substr(0, path.rfind('/') + 1);
#endif
}

void MakeDirectories(const std::string& windowsPath) { fs::create_directories(Host(windowsPath)); }

std::string AnotherSpelling(const std::string& windowsFolder) {
#ifdef _WIN32
  char buffer[MAX_PATH] = {};
  return std::string(buffer, GetShortPathNameA(windowsFolder.c_str(), buffer, MAX_PATH));
#else
  std::string folder = windowsFolder;
  while (folder.back() == '\\') folder.pop_back();
  const size_t slash = folder.rfind('\\');
  const std::string link = "C:\\linked" + std::to_string(++g_counter);
  fs::create_directory_symlink(Host(folder.substr(0, slash)), Host(link));
  return link + folder.substr(slash);
#endif
}

void RemoveTree(const std::string& windowsPath) {
  std::error_code ignored;
  fs::remove_all(Host(windowsPath), ignored);
}

bool Exists(const std::string& windowsPath) { return fs::exists(Host(windowsPath)); }

std::string ReadBytes(const std::string& windowsPath) {
  std::ifstream in(Host(windowsPath), std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

bool Hold(const std::string& windowsPath, os::FileMode mode, os::File* out) {
  const size_t slash = windowsPath.find_last_of("\\/");
  os::Folder folder;
  return slash != std::string::npos &&
         os::Folder::Open(windowsPath.substr(0, slash + 1), &folder) == os::OpenStatus::kDone &&
         folder.OpenFile(windowsPath.substr(slash + 1), mode, false, out) == os::OpenStatus::kDone;
}

void WriteBytes(const std::string& windowsPath, const std::string& bytes) {
  std::ofstream out(Host(windowsPath), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value ? value : "");
#else
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}

void RemoveProductKeys() {
#ifdef _WIN32
  // Every key below Software whose name starts with one of the family's words or the tests'.
  static const char* const kPrefixes[] = {"ORVANE", "KELMARIS", "BELNOR", "ZERLIN", "ORVATEST"};
  // The default user's hive stands for a console user's in the tests.
  const std::pair<HKEY, const char*> kBranches[] = {{HKEY_CURRENT_USER, "Software"},
                                                    {HKEY_LOCAL_MACHINE, "Software"},
                                                    {HKEY_USERS, ".DEFAULT\\Software"}};
  for (const auto& branch : kBranches) {
    HKEY software;
    if (RegOpenKeyExA(branch.first, branch.second, 0, KEY_ALL_ACCESS, &software) != ERROR_SUCCESS)
      continue;
    std::vector<std::string> doomed;
    char name[256];
    for (DWORD i = 0;; ++i) {
      DWORD size = sizeof name;
      if (RegEnumKeyExA(software, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      for (const char* prefix : kPrefixes) {
        if (_strnicmp(name, prefix, strlen(prefix)) == 0) doomed.push_back(name);
      }
    }
    for (const std::string& key : doomed) RegDeleteTreeA(software, key.c_str());
    RegCloseKey(software);
  }
#else
  std::error_code ignored;
  fs::remove(machine::MachineRoot() + "/registry.reg", ignored);
#endif
}

ScratchMachine::ScratchMachine() {
  fault::Disarm();
#ifdef _WIN32
  RemoveProductKeys();
  base_ = "C:\\orvatest\\" + std::to_string(++g_counter) + "\\";
  RemoveTree(WindowsLog());
  RemoveTree(DocumentsLog());
#else
  std::string root = (fs::temp_directory_path() / "orvatest-XXXXXX").string();
  root = mkdtemp(&root[0]);
  SetEnv("ORVAPATCH_ROOT", root.c_str());
  base_ = "C:\\scratch" + std::to_string(++g_counter) + "\\";
  std::string documents;
  os::DocumentsFolder(&documents);
  MakeDirectories("C:\\windows\\Temp");
  MakeDirectories(documents);
#endif
  RemoveTree(base_);
  MakeDirectories(base_);
}

ScratchMachine::~ScratchMachine() {
  fault::Disarm();
#ifdef _WIN32
  RemoveProductKeys();
  RemoveTree(base_);
  RemoveTree(WindowsLog());
  RemoveTree(DocumentsLog());
#else
  // The machine root is a host folder, not a path inside the machine.
  std::error_code ignored;
  fs::remove_all(machine::MachineRoot(), ignored);
#endif
}

std::string ScratchMachine::Path(const std::string& relative) const { return base_ + relative; }

std::string ScratchMachine::WindowsLog() const {
  std::string directory;
  os::WindowsDirectory(&directory);
  return directory + "\\orvapatch.log";
}

std::string ScratchMachine::DocumentsLog() const {
  std::string directory;
  os::DocumentsFolder(&directory);
  return directory + "\\orvapatch.log";
}

::testing::AssertionResult SameBytes(const std::string& expected, const std::string& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  size_t from = at > 20 ? at - 20 : 0;
  return ::testing::AssertionFailure()
         << "sizes " << expected.size() << " and " << actual.size() << ", first difference at byte "
         << at << ": expected \"" << expected.substr(from, 60) << "\", got \""
         << actual.substr(from, 60) << "\"";
}

std::string MaskTimes(const std::string& text) {
  static const std::regex date(
      "[A-Z][a-z]+day [0-9]{2} [0-9]{2} [0-9]{4} - [0-9]{2}:[0-9]{2}:[0-9]{2}");
  static const std::regex time("[0-9]{2}:[0-9]{2}:[0-9]{2}");
  return std::regex_replace(std::regex_replace(text, date, "DATE"), time, "TIME");
}

}  // namespace testutil
