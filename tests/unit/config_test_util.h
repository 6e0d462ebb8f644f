// Test fixtures of the configuration update: a typical configuration and its update, and a scratch
// installation directory with its template, configuration and copy.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "test_util.h"

namespace configtest {

namespace fs = std::filesystem;

using testutil::ReadBytes;
using testutil::SameBytes;
using testutil::WriteBytes;

// The bytes of a literal, zero bytes included.
template <size_t N>
inline std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

// Lines, each followed by CR LF.
inline std::string Crlf(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

inline const char kNewVersion[] = "K220.2014.4.2.0001-01";  // 21 characters

inline std::string Template(const std::string& version = kNewVersion) {
  return Crlf({"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", "<configuration>",
               "  <ssvModuleVersion>" + version + "</ssvModuleVersion>", "</configuration>"});
}

inline const std::vector<std::string> kConfig = {
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>",
    "<configuration>",
    "  <ssvModuleVersion>K220.2014.3.1.0007-02</ssvModuleVersion>",
    "  <versionCOD>0302</versionCOD>",
    "  <contextFacturation>CABINET</contextFacturation>",
    "  <nom>Cabinet m\xE9"
    "dical \x80</nom>",
    "  <ssvDesactivationControleSpecialitePS>Non</ssvDesactivationControleSpecialitePS>",
    "  <teletransmission>",
    "    <active>0</active>",
    "  </teletransmission>",
    "  <!-- <active>0</active> -->",
    "  <scor><active>0</active></scor>",
    "</configuration>"};

inline const std::vector<std::string> kUpdated = {
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>",
    "<configuration>",
    "  <ssvModuleVersion>K220.2014.4.2.0001-01</ssvModuleVersion>",
    "  ",
    "  ",
    "  <nom>Cabinet m\xE9"
    "dical \x80</nom>",
    "  <ssvDesactivationControleSpecialitePS>Non</ssvDesactivationControleSpecialitePS>",
    "<!-- Deactivation STS global -->",
    "<ssvDesactivationSTS>Non</ssvDesactivationSTS>",
    "",
    "  <teletransmission>",
    "    <active>1</active>",
    "  </teletransmission>",
    "  <!-- <active>1</active> -->",
    "  <scor><active>1</active></scor>",
    "</configuration>"};

// kUpdated with the configuration's own module version: what a missing template gives.
inline std::vector<std::string> UpdatedWithOldVersion() {
  std::vector<std::string> lines = kUpdated;
  lines[2] = kConfig[2];
  return lines;
}

class ConfigTest : public ::testing::Test {
 protected:
  ConfigTest() : dir_(machine_.Path("WORVA32\\")) {
    testutil::MakeDirectories(dir_ + "Temp\\ssvConfig");
  }

  std::string Tpl() const { return dir_ + "Configuration.tpl"; }
  std::string Xml() const { return dir_ + "Configuration.xml"; }
  std::string Copy() const { return dir_ + "Temp\\ssvConfig\\Configuration.xml"; }

  // Writes the template and the configuration, runs the update of the configuration alone.
  int Run(const std::string& config, const std::string& tpl = Template()) {
    WriteBytes(Tpl(), tpl);
    WriteBytes(Xml(), config);
    return UpdateConfigurationFile(Tpl(), Xml());
  }
  // The configuration after an update of |config| alone.
  std::string Updated(const std::string& config, const std::string& tpl = Template()) {
    EXPECT_EQ(1, Run(config, tpl));
    return ReadBytes(Xml());
  }

  // ReadTextAndFind on the file |name| of the installation directory.
  int ReadIn(const std::string& name, const std::string& tag, std::string* buffer) {
    os::Folder folder;
    if (os::Folder::Open(dir_, &folder) != os::OpenStatus::kDone) return -1;
    return ReadTextAndFind(folder, name, tag, buffer);
  }

  // The names in a directory, sorted.
  static std::vector<std::string> Listing(const std::string& windowsDir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(testutil::Host(windowsDir))) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<std::string> Listing() const { return Listing(dir_); }

  static void SetReadOnly(const std::string& windowsPath, bool readOnly) {
    fs::permissions(testutil::Host(windowsPath),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    readOnly ? fs::perm_options::remove : fs::perm_options::add);
  }

  testutil::ScratchMachine machine_;
  std::string dir_;
};

}  // namespace configtest
