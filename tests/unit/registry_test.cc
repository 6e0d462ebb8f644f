// The registry seam, with the same expectations on both builds (under Wine, Windows' own answers).
#include <gtest/gtest.h>

#include <cstring>

#include "os/registry.h"
#include "test_util.h"
#include "fault/fault.h"

using os::Hive;
using os::RegKey;

namespace {

const char kTestKey[] = "Software\\OrvaTest";

class RegistryTest : public ::testing::Test {
 protected:
  testutil::ScratchMachine machine_;
};

std::string Query(RegKey& key, const char* name, uint32_t* type = nullptr, long* rc = nullptr) {
  char buffer[256];
  uint32_t size = sizeof buffer;
  long result = key.QueryValue(name, buffer, &size, type);
  if (rc) *rc = result;
  return result == os::kErrorSuccess ? std::string(buffer, size) : std::string("<failed>");
}

}  // namespace

TEST_F(RegistryTest, SoftwareKeysExistInAnEmptyRegistry) {
  RegKey key;
  EXPECT_EQ(os::kErrorSuccess, key.Open(Hive::kCurrentUser, "Software", os::kKeyRead));
  EXPECT_EQ(os::kErrorSuccess, key.Open(Hive::kLocalMachine, "SOFTWARE", os::kKeyRead));
  EXPECT_EQ(os::kErrorFileNotFound, key.Open(Hive::kCurrentUser, kTestKey, os::kKeyRead));
  EXPECT_TRUE(key.IsOpen());  // a failed open leaves the key held before
}

TEST_F(RegistryTest, CreateMakesEveryLevelAndNamesIgnoreCase) {
  RegKey key;
  uint32_t disposition = 0;
  ASSERT_EQ(os::kErrorSuccess, key.Create(Hive::kCurrentUser, "Software\\OrvaTest\\A\\B", "String",
                                          os::kKeyAllAccess, &disposition));
  EXPECT_EQ(os::kRegCreatedNewKey, disposition);
  ASSERT_EQ(os::kErrorSuccess, key.Create(Hive::kCurrentUser, "SOFTWARE\\orvatest\\a\\b", nullptr,
                                          os::kKeyAllAccess, &disposition));
  EXPECT_EQ(os::kRegOpenedExistingKey, disposition);
  RegKey parent;
  ASSERT_EQ(os::kErrorSuccess, parent.Open(Hive::kCurrentUser, "software\\ORVATEST", os::kKeyRead));
  RegKey child;
  EXPECT_EQ(os::kErrorSuccess, child.OpenForTesting(parent, "a", os::kKeyRead));
  EXPECT_EQ(os::kErrorSuccess, child.Create(parent, "C", nullptr, os::kKeyAllAccess, &disposition));
  EXPECT_EQ(os::kRegCreatedNewKey, disposition);
  EXPECT_EQ(os::kErrorSuccess,
            child.Open(Hive::kCurrentUser, "Software\\OrvaTest\\c", os::kKeyRead));
}

TEST_F(RegistryTest, ValuesOfEveryTypeComeBackAsStored) {
  RegKey key;
  ASSERT_EQ(os::kErrorSuccess,
            key.Create(Hive::kCurrentUser, kTestKey, nullptr, os::kKeyAllAccess));
  const char text[] = "caf\xE9 \x80 \"q\" \\x";
  const uint32_t number = 0x0000040C;
  const char binary[] = {0, 1, '\xFF', 0};
  ASSERT_EQ(os::kErrorSuccess, key.SetValue("Text", os::kRegSz, text, sizeof text));
  ASSERT_EQ(os::kErrorSuccess, key.SetValue("Number", os::kRegDword, &number, 4));
  ASSERT_EQ(os::kErrorSuccess, key.SetValue("Binary", os::kRegBinary, binary, 4));
  ASSERT_EQ(os::kErrorSuccess, key.SetValue("", os::kRegSz, "dflt", 5));
  ASSERT_EQ(os::kErrorSuccess, key.Flush());

  RegKey again;
  ASSERT_EQ(os::kErrorSuccess, again.Open(Hive::kCurrentUser, kTestKey, os::kKeyRead));
  uint32_t type = 0;
  EXPECT_EQ(std::string(text, sizeof text), Query(again, "TEXT", &type));
  EXPECT_EQ(os::kRegSz, type);
  EXPECT_EQ(std::string("\x0C\x04\0\0", 4), Query(again, "number", &type));
  EXPECT_EQ(os::kRegDword, type);
  EXPECT_EQ(std::string(binary, 4), Query(again, "Binary", &type));
  EXPECT_EQ(os::kRegBinary, type);
  EXPECT_EQ(std::string("dflt", 5), Query(again, nullptr));
  EXPECT_EQ(std::string("dflt", 5), Query(again, ""));
}

TEST_F(RegistryTest, DataThatDoesNotFitIsMoreData) {
  RegKey key;
  ASSERT_EQ(os::kErrorSuccess,
            key.Create(Hive::kCurrentUser, kTestKey, nullptr, os::kKeyAllAccess));
  std::string fits(49, 'a'), tooLong(50, 'a');
  ASSERT_EQ(os::kErrorSuccess, key.SetValue("fits", os::kRegSz, fits.c_str(), 50));
  ASSERT_EQ(os::kErrorSuccess, key.SetValue("long", os::kRegSz, tooLong.c_str(), 51));
  char buffer[50];
  uint32_t size = sizeof buffer;
  EXPECT_EQ(os::kErrorSuccess, key.QueryValue("fits", buffer, &size));
  EXPECT_EQ(50u, size);
  size = sizeof buffer;
  EXPECT_EQ(os::kErrorMoreData, key.QueryValue("long", buffer, &size));
  EXPECT_EQ(51u, size);
  size = 0;
  EXPECT_EQ(os::kErrorSuccess, key.QueryValue("long", nullptr, &size));
  EXPECT_EQ(51u, size);
}

TEST_F(RegistryTest, TextsAreReadUpToTheirFirstZeroWhateverTheirTypeAndMustFit) {
  RegKey key;
  ASSERT_EQ(os::kErrorSuccess,
            key.Create(Hive::kCurrentUser, kTestKey, nullptr, os::kKeyAllAccess));
  const std::string brim(50, 'b');
  ASSERT_EQ(os::kErrorSuccess, key.WriteTextValue("fits", std::string(49, 'a')));
  ASSERT_EQ(os::kErrorSuccess, key.WriteTextValue("long", std::string(50, 'a')));
  ASSERT_EQ(os::kErrorSuccess, key.SetValue("brim", os::kRegBinary, brim.data(), 50));
  ASSERT_EQ(os::kErrorSuccess, key.SetValue("cut", os::kRegBinary, "ab\0cd", 5));
  ASSERT_EQ(os::kErrorSuccess, key.WriteDword("number", 0x00636261));
  std::string text;
  EXPECT_EQ(os::kErrorSuccess, key.ReadTextValue("fits", 50, &text));
  EXPECT_EQ(std::string(49, 'a'), text);
  EXPECT_EQ(os::kErrorMoreData, key.ReadTextValue("long", 50, &text));
  EXPECT_EQ(os::kErrorFileNotFound, key.ReadTextValue("missing", 50, &text));
  EXPECT_EQ(std::string(49, 'a'), text);  // untouched by a failed read
  EXPECT_EQ(os::kErrorSuccess, key.ReadTextValue("brim", 50, &text));
  EXPECT_EQ(brim, text);
  EXPECT_EQ(os::kErrorSuccess, key.ReadTextValue("cut", 50, &text));
  EXPECT_EQ("ab", text);
  EXPECT_EQ(os::kErrorSuccess, key.ReadTextValue("number", 50, &text));
  EXPECT_EQ("abc", text);  // four bytes, least significant first
}

TEST_F(RegistryTest, DeletedValuesAreGone) {
  RegKey key;
  ASSERT_EQ(os::kErrorSuccess,
            key.Create(Hive::kLocalMachine, "SOFTWARE\\OrvaTest", nullptr, os::kKeyAllAccess));
  ASSERT_EQ(os::kErrorSuccess, key.SetValue("KivAppPath", os::kRegSz, "C:\\", 4));
  EXPECT_EQ(os::kErrorSuccess, key.DeleteValue("kivapppath"));
  long rc = 0;
  Query(key, "KivAppPath", nullptr, &rc);
  EXPECT_EQ(os::kErrorFileNotFound, rc);
  EXPECT_EQ(os::kErrorFileNotFound, key.DeleteValue("KivAppPath"));
}

TEST_F(RegistryTest, StruckCallsFailAndChangeNothing) {
  RegKey key;
  fault::FailNth(1, false);
  EXPECT_NE(os::kErrorSuccess,
            key.Create(Hive::kCurrentUser, kTestKey, nullptr, os::kKeyAllAccess));
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(os::kErrorFileNotFound, key.Open(Hive::kCurrentUser, kTestKey, os::kKeyRead));
  ASSERT_EQ(os::kErrorSuccess,
            key.Create(Hive::kCurrentUser, kTestKey, nullptr, os::kKeyAllAccess));
  fault::FailNth(1, false);
  EXPECT_NE(os::kErrorSuccess, key.SetValue("v", os::kRegSz, "x", 2));
  long rc = 0;
  Query(key, "v", nullptr, &rc);
  EXPECT_EQ(os::kErrorFileNotFound, rc);
  fault::Disarm();
  key.Close();
  EXPECT_EQ(1, fault::Count());  // closing counts too
  EXPECT_FALSE(key.IsOpen());
}

TEST_F(RegistryTest, MovedKeysStayOpenOnce) {
  RegKey key;
  ASSERT_EQ(os::kErrorSuccess,
            key.Create(Hive::kCurrentUser, kTestKey, nullptr, os::kKeyAllAccess));
  RegKey moved(std::move(key));
  EXPECT_FALSE(key.IsOpen());
  ASSERT_TRUE(moved.IsOpen());
  EXPECT_EQ(os::kErrorSuccess, moved.SetValue("v", os::kRegSz, "x", 2));
  EXPECT_EQ(os::kErrorInvalidHandle, key.SetValue("v", os::kRegSz, "x", 2));
}

TEST_F(RegistryTest, AUsersHiveStandsForTheCurrentUserOnceChosen) {
  // The default user's hive is there on every system, as a logged-on user's is.
  RegKey key;
  ASSERT_EQ(os::kErrorSuccess,
            key.Create(Hive::kUsers, ".DEFAULT\\Software\\OrvaTest", nullptr, os::kKeyAllAccess));
  EXPECT_EQ(os::kErrorFileNotFound, os::RegKey::UseUserHive("S-1-5-21-9-9-9-9"));  // nobody's hive
  ASSERT_EQ(os::kErrorSuccess, os::RegKey::UseUserHive(".DEFAULT"));
  RegKey chosen;
  const long created =
      chosen.Create(Hive::kCurrentUser, "Software\\OrvaTest\\Fleet", nullptr, os::kKeyAllAccess);
  ASSERT_EQ(os::kErrorSuccess, os::RegKey::UseUserHive(""));
  EXPECT_EQ(os::kErrorSuccess, created);
  EXPECT_EQ(os::kErrorSuccess,
            key.Open(Hive::kUsers, ".DEFAULT\\Software\\OrvaTest\\Fleet", os::kKeyRead));
  EXPECT_EQ(os::kErrorFileNotFound,
            key.Open(Hive::kCurrentUser, "Software\\OrvaTest", os::kKeyRead));
}
