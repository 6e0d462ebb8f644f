// Product-family detection: the edition table, which hive decides, the locale override, the
// settings key and store, and JoinPath.
#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "app/orvapatch_app.h"
#include "app/product_family.h"
#include "app/run_account.h"
#include "os/account.h"
#include "os/locale.h"
#include "os/registry.h"
#include "test_util.h"

#ifndef _WIN32
#include <unistd.h>
#endif

using os::Hive;
using os::RegKey;

namespace {

class ProductFamilyTest : public ::testing::Test {
 protected:
  ~ProductFamilyTest() override { std::setlocale(LC_ALL, "C"); }

  // Writes |text| (with its zero) as a REG_SZ value, creating the key.
  static void SetText(Hive hive, const char* key, const char* name, const std::string& text) {
    RegKey k;
    ASSERT_EQ(os::kErrorSuccess, k.Create(hive, key, nullptr, os::kKeyAllAccess));
    ASSERT_EQ(os::kErrorSuccess, k.WriteTextValue(name, text));
  }
  static void SetSoftName(Hive hive, const std::string& text) {
    SetText(hive, "Software\\ORVANE S.A.", "Soft name", text);
  }
  static bool KeyExists(const char* key) {
    RegKey k;
    return k.Open(Hive::kCurrentUser, key, os::kKeyRead) == os::kErrorSuccess;
  }

  testutil::ScratchMachine machine_;
};

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", value);
  return text;
}

}  // namespace

TEST_F(ProductFamilyTest, EditionTableIgnoresCaseButNotBlanks) {
  struct Case {
    const char* softName;
    int edition;
    const char* appName;
    const char* settingsKey;
  } cases[] = {
      {"ORVANE II", 0, "ORVANE", "ORVANE-40C"},
      {"orvane xp", 1, "Orvane XP", "ORVANE-40C"},
      {"Kelmaris Xp", 2, "Kelmaris XP", "ORVANE-40C"},
      {"BELNOR 2000", 3, "BELNOR 2000", "BELNOR-40C"},
      {"morvik 2000", 4, "ZERLIN", "ZERLIN-40C"},
      {"ORVANE II ", 1, "Orvane XP", "ORVANE-40C"},
      {"", 1, "Orvane XP", "ORVANE-40C"},
      {"MORVIK", 1, "Orvane XP", "ORVANE-40C"},
  };
  const char* roots[] = {"Software\\ORVANE", "Software\\ORVANE XP", "Software\\KELMARIS XP",
                         "Software\\Belnor", "Software\\ZERLIN"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.softName);
    testutil::RemoveProductKeys();
    SetSoftName(Hive::kCurrentUser, c.softName);
    SetText(Hive::kCurrentUser, roots[c.edition], "ThreadLocal", "40c");
    EXPECT_EQ(c.edition, GetProductEdition());
    COrvaPatchApp app;
    app.m_strAppName = "before";
    InitProductFamily(app);
    EXPECT_EQ(c.appName, app.m_strAppName);
    EXPECT_EQ(c.settingsKey, app.m_strSettingsKey);
    EXPECT_EQ(c.settingsKey, app.m_strRegistryKey);
    EXPECT_EQ(c.appName, app.m_strProfileName);
  }
}

TEST_F(ProductFamilyTest, TheUserHiveDecidesWhenItHasTheKey) {
  EXPECT_EQ(1, GetProductEdition());  // no key anywhere
  SetSoftName(Hive::kLocalMachine, "MORVIK 2000");
  EXPECT_EQ(4, GetProductEdition());
  // A user key without the value does not send the lookup on to the machine's.
  SetText(Hive::kCurrentUser, "Software\\ORVANE S.A.", "Other", "x");
  EXPECT_EQ(1, GetProductEdition());
  SetSoftName(Hive::kCurrentUser, "BELNOR 2000");
  EXPECT_EQ(3, GetProductEdition());
  // A name longer than the 50-byte buffer is unreadable.
  SetSoftName(Hive::kCurrentUser, "BELNOR 2000" + std::string(40, ' '));
  EXPECT_EQ(1, GetProductEdition());
}

TEST_F(ProductFamilyTest, ThreadLocalOverridesTheThreadsLocale) {
  const uint32_t thread = os::ThreadLocale();
  EXPECT_EQ(thread, GetProductLcid());  // no value at all
  // The family root is created by the lookup, empty.
  EXPECT_TRUE(KeyExists("Software\\ORVANE XP"));
  struct Case {
    std::string text;
    uint32_t lcid;
  } cases[] = {
      {"40c", 0x40C},
      {"0x809", 0x809},
      {" \t+0X80C", 0x80C},
      {"-1", 0xFFFFFFFF},
      {"40cz", 0x40C},
      {"0", thread},
      {"junk", thread},
      {"0x", thread},
      {"100000000", thread},                  // more than 32 bits: no override
      {std::string(46, '0') + "40c", 0x40C},  // 49 characters and the zero fit the buffer
      {std::string(47, '0') + "40c", thread},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    SetText(Hive::kCurrentUser, "Software\\ORVANE XP", "ThreadLocal", c.text);
    EXPECT_EQ(c.lcid, GetProductLcid());
  }
}

TEST_F(ProductFamilyTest, SettingsKeyIsUpperCaseHexOfTheLocale) {
  SetSoftName(Hive::kLocalMachine, "BELNOR 2000");
  SetText(Hive::kCurrentUser, "Software\\Belnor", "ThreadLocal", "80c");
  COrvaPatchApp app;
  InitProductFamily(app);
  EXPECT_EQ("BELNOR-80C", app.m_strSettingsKey);

  testutil::RemoveProductKeys();
  EXPECT_FALSE(KeyExists("Software\\ORVANE XP"));
  InitProductFamily(app);
  EXPECT_EQ("ORVANE-" + Hex(os::ThreadLocale()), app.m_strSettingsKey);
  EXPECT_EQ("Orvane XP", app.m_strAppName);
  EXPECT_TRUE(KeyExists("Software\\ORVANE XP"));
  RegKey root;
  ASSERT_EQ(os::kErrorSuccess, root.Open(Hive::kCurrentUser, "Software\\ORVANE XP", os::kKeyRead));
  uint32_t size = 0;
  EXPECT_EQ(os::kErrorFileNotFound, root.QueryValue("ThreadLocal", nullptr, &size));
}

TEST_F(ProductFamilyTest, ProfileIntegersLandUnderTheSettingsKey) {
  SetSoftName(Hive::kCurrentUser, "ORVANE II");
  SetText(Hive::kCurrentUser, "Software\\ORVANE", "ThreadLocal", "40c");
  COrvaPatchApp app;
  EXPECT_FALSE(app.WriteProfileInt("SSV140", "Version140", 1));  // no registry key yet
  InitProductFamily(app);
  ASSERT_TRUE(app.WriteProfileInt("SSV140", "Version140", 1));
  ASSERT_TRUE(app.WriteProfileInt("SSV140", "Other", -2));
  RegKey key;
  ASSERT_EQ(os::kErrorSuccess,
            key.Open(Hive::kCurrentUser, "Software\\ORVANE-40C\\ORVANE\\SSV140", os::kKeyRead));
  unsigned char data[8] = {};
  uint32_t size = sizeof data, type = 0;
  ASSERT_EQ(os::kErrorSuccess, key.QueryValue("Version140", data, &size, &type));
  EXPECT_EQ(os::kRegDword, type);
  EXPECT_EQ(4u, size);
  EXPECT_EQ(0, std::memcmp(data, "\1\0\0\0", 4));
  size = sizeof data;
  ASSERT_EQ(os::kErrorSuccess, key.QueryValue("Other", data, &size));
  EXPECT_EQ(0, std::memcmp(data, "\xFE\xFF\xFF\xFF", 4));
}

TEST(JoinPathTest, OneSeparatorBetweenDirectoryAndName) {
  struct Case {
    std::string directory;
    const char* name;
    const char* joined;
  } cases[] = {
      {"C:\\WINDOWS", "orvapatch.log", "C:\\WINDOWS\\orvapatch.log"},
      {"D:\\App\\", "\\x.dll", "D:\\App\\x.dll"},
      {"D:/App/", "x.dll", "D:/App/x.dll"},
      {"", "/a", "/a"},
      {"", nullptr, ""},
      {"D:\\App", "", "D:\\App"},
      {"D:\\App", nullptr, "D:\\App"},
      {"D:", "\\\\srv\\x", "D:\\\\srv\\x"},
  };
  for (Case& c : cases) {
    JoinPath(c.name, c.directory);
    EXPECT_EQ(c.joined, c.directory);
  }
}

#ifndef _WIN32
TEST(LocaleTest, TheEnvironmentNamesTheUsersLanguage) {
  testutil::SetEnv("LC_ALL", nullptr);
  testutil::SetEnv("LC_MESSAGES", nullptr);
  testutil::SetEnv("LANG", "fr_BE.UTF-8");
  EXPECT_EQ(0x080C, os::UserDefaultLangId());
  testutil::SetEnv("LC_MESSAGES", "en_GB");
  EXPECT_EQ(0x0809u, os::ThreadLocale());
  testutil::SetEnv("LC_ALL", "C");
  EXPECT_EQ(0x0409, os::UserDefaultLangId());
  testutil::SetEnv("LC_ALL", "de_DE@euro");
  EXPECT_EQ(0x0407u, os::ThreadLocale());
  testutil::SetEnv("LC_ALL", nullptr);
  testutil::SetEnv("LC_MESSAGES", nullptr);
  testutil::SetEnv("LANG", nullptr);
  EXPECT_EQ(0x0409, os::UserDefaultLangId());
}
#endif

// Fleet tools start the launcher as the system account, for which the console user's hive then
// stands for HKEY_CURRENT_USER. Wine runs every program as its one user: there the decision is
// taken on the real token, and keeps the run's own account; the POSIX machine models the rest.
TEST_F(ProductFamilyTest, OnlyARunOfTheSystemAccountReadsTheConsoleUsersEdition) {
  SetSoftName(Hive::kCurrentUser, "KELMARIS XP");
  RunAccount own;
  ChooseAccount(&own);
  EXPECT_EQ(os::RunAccountSid(), own.sid);
  EXPECT_NE(os::kSystemSid, own.sid);
  EXPECT_EQ(ConsoleUserFound::kNotAsked, own.console);
  EXPECT_EQ(2, GetProductEdition());
#ifdef _WIN32
  // The SID's text names the run's own hive among the users' hives.
  RegKey hive;
  EXPECT_EQ(os::kErrorSuccess, hive.Open(Hive::kUsers, own.sid.c_str(), os::kKeyRead));
  // The one user is the console's, and their rights can be taken.
  os::ConsoleUser user;
  if (user.Find()) {
    EXPECT_EQ(own.sid, user.Sid());
    os::ActFor(std::move(user));
    EXPECT_TRUE(os::UserRights().Held());
    os::ActFor(os::ConsoleUser());
  }
#else
  const char kUser[] = "S-1-5-21-1-2-3-1001";
  SetText(Hive::kUsers, "S-1-5-21-1-2-3-1001\\Software\\ORVANE", "SoftVersion", "2014.4");
  SetText(Hive::kUsers, "S-1-5-21-1-2-3-1001\\Software\\ORVANE S.A.", "Soft name", "BELNOR 2000");
  testutil::SetEnv("ORVAPATCH_ACCOUNT", "system");
  // At the machine root, above drive C:.
  std::ofstream(testutil::Host("C:\\") + "/../console-user.txt") << kUser << " 1001\n";
  RunAccount system;
  ChooseAccount(&system);
  const int edition = GetProductEdition();
  EXPECT_EQ(os::kErrorSuccess, os::RegKey::UseUserHive(""));
  os::ActFor(os::ConsoleUser());
  testutil::SetEnv("ORVAPATCH_ACCOUNT", nullptr);
  if (::geteuid() == 0) {
    EXPECT_EQ(kUser, system.sid);
    EXPECT_EQ(ConsoleUserFound::kActedFor, system.console);
    EXPECT_EQ(3, edition);
  } else {
    // Only root may take another user's rights: the road ends before anything is read for them.
    EXPECT_EQ(os::kSystemSid, system.sid);
    EXPECT_EQ(ConsoleUserFound::kNoRights, system.console);
    EXPECT_EQ(static_cast<uint32_t>(EPERM), system.rightsError);
  }
  // A uid that is no number the host can have names nobody, never one that wraps to root.
  for (const char* uid : {"-1", "4294967296", "1001x", "+1001", "x"}) {
    std::ofstream(testutil::Host("C:\\") + "/../console-user.txt") << kUser << " " << uid << "\n";
    EXPECT_FALSE(os::ConsoleUser().Find()) << uid;
  }
#endif
}
