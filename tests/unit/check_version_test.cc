// The prerequisite check: the three roads, their log lines, and what the stamping writes.
#include <gtest/gtest.h>

#include <cstring>

#include "app/orvapatch_app.h"
#include "log/setup_log.h"
#include "os/registry.h"
#include "test_util.h"
#include "version/check_version.h"
#include "version_test_util.h"

using os::Hive;
using os::RegKey;

// The check writes through the process's log; here it goes to a file of each test's own. Opened
// at start-up, it would hold the Windows directory's log for the whole run: an open that fails
// closes it at once.
CSetupLog theLog;
static const int g_logReleased = theLog.OpenFile("", 0);

namespace {

void SetText(Hive hive, const char* key, const char* name, const std::string& text) {
  RegKey k;
  ASSERT_EQ(os::kErrorSuccess, k.Create(hive, key, nullptr, os::kKeyAllAccess));
  ASSERT_EQ(os::kErrorSuccess, k.WriteTextValue(name, text));
}

// The value's bytes, "<missing>" when it cannot be read.
std::string Value(Hive hive, const char* key, const char* name, uint32_t* type = nullptr) {
  RegKey k;
  if (k.Open(hive, key, os::kKeyRead) != os::kErrorSuccess) return "<missing>";
  char buffer[512];
  uint32_t size = sizeof(buffer);
  if (k.QueryValue(name, buffer, &size, type) != os::kErrorSuccess) return "<missing>";
  return std::string(buffer, size);
}

class CheckVersionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = machine_.Path("check.log");
    theLog.OpenFile(log_.c_str(), 1);
    app_.m_strInstallPath = "C:\\WORVA32\\";
    app_.m_strAppName = "ORVANE";
    app_.SetRegistryKey("ORVANE-40C");
  }
  // The lines the check wrote, times masked.
  std::string Lines() {
    theLog.OpenFile(machine_.Path("other.log").c_str(), 1);
    return testutil::MaskTimes(testutil::ReadBytes(log_));
  }
  // A product directory in the scratch area holding |fixture| as TarifLib.dll.
  std::string ProductDirectory(const char* fixture) {
    testutil::MakeDirectories(machine_.Path("App"));
    if (fixture) versiontest::Install(machine_, fixture, "App\\TarifLib.dll");
    return machine_.Path("App");
  }

  testutil::ScratchMachine machine_;
  COrvaPatchApp app_;
  std::string log_;
};

}  // namespace

TEST_F(CheckVersionTest, VersionTextNaming2014AnywhereAccepts) {
  for (const char* version : {"2014.4", "V2014", "12014"}) {
    SetText(Hive::kCurrentUser, "Software\\ORVANE", "SoftVersion", version);
    SetText(Hive::kCurrentUser, "Software\\ORVANE", "OrvaAppPath", "D:\\App");
    theLog.OpenFile(log_.c_str(), 1);
    EXPECT_EQ(1, CheckVersion(app_));
    EXPECT_EQ(std::string("TIME - SoftVersion dans la base de regsitre - ") + version + "\r\n",
              Lines());
    EXPECT_EQ("D:\\App\\", app_.m_strInstallPath);
  }
  EXPECT_EQ("<missing>", Value(Hive::kCurrentUser, "Software\\ORVANE", "Version140"));
}

TEST_F(CheckVersionTest, Library2014IsAcceptedAndStamped) {
  std::string directory = ProductDirectory("tariflib.dll");
  SetText(Hive::kCurrentUser, "Software\\ORVANE", "SoftVersion", "2013.9");
  SetText(Hive::kCurrentUser, "Software\\ORVANE", "OrvaAppPath", directory);
  SetText(Hive::kCurrentUser, "Software\\ORVANE", "KivAppPath", "C:\\KIV");
  SetText(Hive::kLocalMachine, "SOFTWARE\\ORVANE", "KivAppPath", "C:\\KIV");
  EXPECT_EQ(1, CheckVersion(app_));
  EXPECT_EQ("TIME - ***SoftVersion dans la base de regsitre - 2013.9\r\n"
            "TIME - CheckVerion - MAJ SoftVersion=2014.2 avant installation\r\n",
            Lines());
  EXPECT_EQ(directory + "\\", app_.m_strInstallPath);
  uint32_t type = 0;
  EXPECT_EQ(std::string("2014.2", 7),
            Value(Hive::kCurrentUser, "Software\\ORVANE", "SoftVersion", &type));
  EXPECT_EQ(os::kRegSz, type);
  EXPECT_EQ(std::string("1", 2),
            Value(Hive::kCurrentUser, "Software\\ORVANE", "Version140", &type));
  EXPECT_EQ(os::kRegSz, type);
  EXPECT_EQ("<missing>", Value(Hive::kCurrentUser, "Software\\ORVANE", "KivAppPath"));
  EXPECT_EQ("<missing>", Value(Hive::kLocalMachine, "SOFTWARE\\ORVANE", "KivAppPath"));
  EXPECT_EQ(std::string("\x01\0\0\0", 4),
            Value(Hive::kCurrentUser, "software\\ORVANE-40C\\ORVANE\\SSV140", "Version140", &type));
  EXPECT_EQ(os::kRegDword, type);

  // The next run passes on the recorded text and reads no library.
  theLog.OpenFile(log_.c_str(), 1);
  EXPECT_EQ(1, CheckVersion(app_));
  EXPECT_EQ("TIME - SoftVersion dans la base de regsitre - 2014.2\r\n", Lines());
}

TEST_F(CheckVersionTest, MinorVersionIsRecordedNeverCompared) {
  std::string directory = ProductDirectory("tariflib_2014_7.dll");
  SetText(Hive::kCurrentUser, "Software\\ORVANE", "OrvaAppPath", directory + "\\");
  EXPECT_EQ(1, CheckVersion(app_));
  EXPECT_EQ("TIME - ***Impossible de lire SoftVersion dans la base de regsitre \r\n"
            "TIME - ***SoftVersion dans la base de regsitre - \r\n"
            "TIME - CheckVerion - MAJ SoftVersion=2014.7 avant installation\r\n",
            Lines());
  EXPECT_EQ(std::string("2014.7", 7), Value(Hive::kCurrentUser, "Software\\ORVANE", "SoftVersion"));
}

TEST_F(CheckVersionTest, OtherOrMissingLibraryRefusesAndWritesNothing) {
  std::string directory = ProductDirectory("version2015.dll");
  SetText(Hive::kCurrentUser, "Software\\ORVANE", "OrvaAppPath", directory);
  SetText(Hive::kCurrentUser, "Software\\ORVANE", "KivAppPath", "C:\\KIV");
  EXPECT_EQ(0, CheckVersion(app_));
  EXPECT_EQ("TIME - ***Impossible de lire SoftVersion dans la base de regsitre \r\n"
            "TIME - ***SoftVersion dans la base de regsitre - \r\n"
            "TIME - CheckVerion - TarifLib Version = 2015.1\r\n",
            Lines());
  EXPECT_EQ("<missing>", Value(Hive::kCurrentUser, "Software\\ORVANE", "SoftVersion"));
  EXPECT_EQ(std::string("C:\\KIV", 7), Value(Hive::kCurrentUser, "Software\\ORVANE", "KivAppPath"));

  SetText(Hive::kCurrentUser, "Software\\ORVANE", "OrvaAppPath", machine_.Path("Nowhere"));
  theLog.OpenFile(log_.c_str(), 1);
  EXPECT_EQ(0, CheckVersion(app_));
  EXPECT_NE(std::string::npos, Lines().find("CheckVerion - TarifLib Version = 0.0\r\n"));
}

TEST_F(CheckVersionTest, MissingKeyWritesNoValueLinesAndKeepsTheDefaultPath) {
  EXPECT_EQ(0, CheckVersion(app_));
  EXPECT_EQ("TIME - ***SoftVersion dans la base de regsitre - \r\n"
            "TIME - CheckVerion - TarifLib Version = 0.0\r\n",
            Lines());
  EXPECT_EQ("C:\\WORVA32\\", app_.m_strInstallPath);
}

TEST_F(CheckVersionTest, ValuesMustFitTheirBuffers) {
  // 99 characters and the zero fit 100 bytes; 100 characters do not.
  SetText(Hive::kCurrentUser, "Software\\ORVANE", "SoftVersion", std::string(95, 'x') + "2014");
  SetText(Hive::kCurrentUser, "Software\\ORVANE", "OrvaAppPath", std::string(100, 'd'));
  EXPECT_EQ(1, CheckVersion(app_));
  EXPECT_EQ("TIME - ***Impossible de lire AppPath dans la base de regsitre \r\n"
            "TIME - SoftVersion dans la base de regsitre - " +
                std::string(95, 'x') + "2014\r\n",
            Lines());
  EXPECT_EQ("C:\\WORVA32\\", app_.m_strInstallPath);

  SetText(Hive::kCurrentUser, "Software\\ORVANE", "SoftVersion", std::string(96, 'x') + "2014");
  theLog.OpenFile(log_.c_str(), 1);
  EXPECT_EQ(0, CheckVersion(app_));
  EXPECT_EQ(0u,
            Lines().find("TIME - ***Impossible de lire SoftVersion dans la base de regsitre \r\n"));
}

TEST_F(CheckVersionTest, OnlyABackslashEndsTheInstallationPath) {
  for (auto [value, path] : {std::pair<const char*, const char*>{"D:\\App\\", "D:\\App\\"},
                             {"D:/App/", "D:/App/\\"},
                             {"", "\\"}}) {
    SetText(Hive::kCurrentUser, "Software\\ORVANE", "SoftVersion", "2014.4");
    SetText(Hive::kCurrentUser, "Software\\ORVANE", "OrvaAppPath", value);
    EXPECT_EQ(1, CheckVersion(app_));
    EXPECT_EQ(path, app_.m_strInstallPath);
  }
}

TEST_F(CheckVersionTest, KivAppPathTooLongForTheProbeStays) {
  std::string directory = ProductDirectory("tariflib.dll");
  SetText(Hive::kCurrentUser, "Software\\ORVANE", "OrvaAppPath", directory);
  std::string longPath(256, 'k');  // with its zero, 257 bytes
  SetText(Hive::kCurrentUser, "SOFTWARE\\ORVANE", "KivAppPath", longPath);
  EXPECT_EQ(1, CheckVersion(app_));
  RegKey k;
  ASSERT_EQ(os::kErrorSuccess, k.Open(Hive::kCurrentUser, "Software\\ORVANE", os::kKeyRead));
  uint32_t size = 0;
  EXPECT_EQ(os::kErrorSuccess, k.QueryValue("KivAppPath", nullptr, &size));
  EXPECT_EQ(257u, size);
}
