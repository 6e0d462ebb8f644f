// The POSIX registry file: REGEDIT4 text read and written byte for byte, names that ignore case
// and keep it, a damaged file left alone, and writers in several processes losing nothing.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "machine/paths.h"
#include "machine/regedit4.h"
#include "os/registry.h"
#include "test_util.h"

using machine::ParseRegedit4;
using machine::RegDocument;
using machine::SerializeRegedit4;
using os::Hive;
using os::RegKey;

namespace {

class RegistryFileTest : public ::testing::Test {
 protected:
  std::string Store() const { return machine::MachineRoot() + "/registry.reg"; }
  std::string ReadStore() const {
    std::ifstream in(Store(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void WriteStore(const std::string& bytes) const {
    std::ofstream(Store(), std::ios::binary) << bytes;
  }

  testutil::ScratchMachine machine_;
};

// Every form a value can take, with cp1252 bytes and escapes, as this code writes it.
const char kEveryForm[] = "REGEDIT4\r\n"
                          "\r\n[HKEY_CURRENT_USER\\Software\\ORVANE S.A.]\r\n"
                          "\"Soft name\"=\"BELNOR 2000\"\r\n"
                          "@=\"d\xE9"
                          "faut \\\"cit\xE9\\\" C:\\\\x\"\r\n"
                          "\"Caf\xE9\\\\\\\"\"=dword:0000040c\r\n"
                          "\"Bin\"=hex:00,ff,80\r\n"
                          "\"Empty\"=hex:\r\n"
                          "\"Expand\"=hex(2):25,54,45,4d,50,25,00\r\n"
                          "\"Multi\"=hex(7):61,00,62,00,00\r\n"
                          "\"Qword\"=hex(b):01,02,03,04,05,06,07,08\r\n"
                          "\"ShortDword\"=hex(4):01,02\r\n"
                          "\"NoZero\"=hex(1):61,62\r\n"
                          "\"TwoTexts\"=hex(1):61,00,62,00\r\n"
                          "\"Lines\"=hex(1):61,0d,0a,62,00\r\n"
                          "\r\n[HKEY_USERS\\.DEFAULT\\Other]\r\n"
                          "\"kept\"=\"yes\"\r\n"
                          "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ORVANE S.A.]\r\n"
                          "\r\n";

}  // namespace

TEST(Regedit4Test, EveryValueFormSurvivesARoundTrip) {
  RegDocument document;
  ASSERT_TRUE(ParseRegedit4(kEveryForm, &document));
  EXPECT_EQ(kEveryForm, SerializeRegedit4(document));
  const machine::RegValueEntry* value =
      machine::FindValue(document, "HKEY_CURRENT_USER\\Software\\ORVANE S.A.", "");
  ASSERT_NE(nullptr, value);
  EXPECT_EQ(std::string("d\xE9"
                        "faut \"cit\xE9\" C:\\x",
                        19),
            value->data);
  value = machine::FindValue(document, "hkey_current_user\\software\\orvane s.a.", "CAF\xE9\\\"");
  ASSERT_NE(nullptr, value);
  EXPECT_EQ(std::string("\x0C\x04\0\0", 4), value->data);
}

TEST(Regedit4Test, ForeignLayoutsAreRead) {
  // LF line ends, comments, blanks around '=', a hex list over several lines, abbreviated hives,
  // a key listed twice.
  const char text[] = "REGEDIT4\n; comment\n[HKCU\\Software\\A]\n\"x\" = hex:01,\\\n  02,\\\n  03\n"
                      "[hkcu\\software\\a]\n\"y\"=dword:1\n";
  RegDocument document;
  ASSERT_TRUE(ParseRegedit4(text, &document));
  EXPECT_EQ("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\A]\r\n\"x\"=hex:01,02,03\r\n"
            "\"y\"=dword:00000001\r\n\r\n",
            SerializeRegedit4(document));
}

TEST(Regedit4Test, TextsItCannotRepresentAreRefused) {
  RegDocument document;
  for (const char* bad :
       {"REGEDIT5\r\n", "Windows Registry Editor Version 5.00\r\n",
        "REGEDIT4\r\n\"orphan\"=\"x\"\r\n", "REGEDIT4\r\n[-HKEY_CURRENT_USER\\X]\r\n",
        "REGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\n\"v\"=-\r\n",
        "REGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\n\"v\"=dword:123456789\r\n",
        "REGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\n\"v\"=hex:1,2\r\n",
        "REGEDIT4\r\n[HKEY_CURRENT_USER\\X]\r\n\"v\"=\"open\r\n",
        "REGEDIT4\r\n[HKEY_CURRENT_USER\\X\r\n",
        // Read as "[-X]" once written back: a deletion.
        "REGEDIT4\r\n[\\-X]\r\n", "REGEDIT4\r\n[\\\\-HKCU\\X]\r\n"}) {
    EXPECT_FALSE(ParseRegedit4(bad, &document)) << bad;
  }
}

TEST(Regedit4Test, ALineBreakInAValueNameStaysInItsLine) {
  const char text[] =
      "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\A]\r\n\"two\\nlines\"=\"x\"\r\n\r\n";
  RegDocument document;
  ASSERT_TRUE(ParseRegedit4(text, &document));
  ASSERT_NE(nullptr, machine::FindValue(document, "HKEY_CURRENT_USER\\Software\\A", "two\nlines"));
  EXPECT_EQ(text, SerializeRegedit4(document));
}

TEST_F(RegistryFileTest, AValueNameWithALineBreakFromAnotherWriterStaysReadable) {
  WriteStore("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\A]\r\n\"a\\nb\"=\"x\"\r\n\r\n");
  RegKey key;
  ASSERT_EQ(os::kErrorSuccess, key.Open(Hive::kCurrentUser, "Software\\A", os::kKeyAllAccess));
  ASSERT_EQ(os::kErrorSuccess, key.SetValue("c", os::kRegSz, "y", 2));
  EXPECT_EQ(os::kErrorSuccess, key.SetValue("d", os::kRegSz, "z", 2));  // reads it back
  EXPECT_EQ("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\A]\r\n\"a\\nb\"=\"x\"\r\n"
            "\"c\"=\"y\"\r\n\"d\"=\"z\"\r\n\r\n",
            ReadStore());
}

TEST_F(RegistryFileTest, ChangesKeepOrderOtherKeysAndStoredCase) {
  WriteStore(kEveryForm);
  RegKey key;
  // The key exists only through a key below it; its levels keep their stored spelling.
  ASSERT_EQ(os::kErrorSuccess, key.Create(Hive::kCurrentUser, "SOFTWARE\\orvane s.a.\\New", nullptr,
                                          os::kKeyAllAccess));
  ASSERT_EQ(os::kErrorSuccess,
            key.Open(Hive::kCurrentUser, "software\\ORVANE S.A.", os::kKeyAllAccess));
  ASSERT_EQ(os::kErrorSuccess, key.SetValue("SOFT NAME", os::kRegSz, "ZERLIN", 7));
  std::string expected = kEveryForm;
  expected.replace(expected.find("BELNOR 2000"), 11, "ZERLIN");
  expected.insert(expected.find("\r\n[HKEY_USERS"),
                  "\r\n[HKEY_CURRENT_USER\\Software\\ORVANE S.A.\\New]\r\n");
  EXPECT_EQ(expected, ReadStore());
  ASSERT_EQ(os::kErrorSuccess, key.DeleteValue("bin"));
  expected.erase(expected.find("\"Bin\""), 20);
  EXPECT_EQ(expected, ReadStore());
}

TEST_F(RegistryFileTest, KeysBelowListedOnesExist) {
  WriteStore("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\A\\B\\C]\r\n");
  RegKey key;
  EXPECT_EQ(os::kErrorSuccess, key.Open(Hive::kLocalMachine, "SOFTWARE\\a\\b", os::kKeyRead));
  // A value on such a key lists it beside the key below it.
  ASSERT_EQ(os::kErrorSuccess, key.SetValue("v", os::kRegDword, "\1\0\0\0", 4));
  EXPECT_EQ("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\A\\B\\C]\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\Software\\A\\B]\r\n\"v\"=dword:00000001\r\n\r\n",
            ReadStore());
}

TEST_F(RegistryFileTest, ADamagedFileIsNeverOverwritten) {
  const std::string damaged = "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\A]\r\n\"v\"=oops\r\n";
  WriteStore(damaged);
  RegKey key;
  EXPECT_NE(os::kErrorSuccess, key.Open(Hive::kCurrentUser, "Software", os::kKeyRead));
  EXPECT_NE(os::kErrorSuccess,
            key.Create(Hive::kCurrentUser, "Software\\B", nullptr, os::kKeyAllAccess));
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(damaged, ReadStore());
}

TEST_F(RegistryFileTest, AnEmptyRegistryGainsOnlyWhatIsWritten) {
  RegKey key;
  ASSERT_EQ(os::kErrorSuccess, key.Open(Hive::kCurrentUser, "Software", os::kKeyAllAccess));
  EXPECT_NE(0, access(Store().c_str(), F_OK));  // opening writes nothing
  ASSERT_EQ(os::kErrorSuccess, key.Create(key, "X", "String", os::kKeyAllAccess));
  EXPECT_EQ("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\X]\r\n\r\n", ReadStore());
}

TEST_F(RegistryFileTest, WritersInSeveralProcessesLoseNothing) {
  const int kProcesses = 4, kValues = 25;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      RegKey key;
      bool ok = key.Create(Hive::kCurrentUser, ("Software\\P" + std::to_string(p)).c_str(), nullptr,
                           os::kKeyAllAccess) == os::kErrorSuccess;
      for (int v = 0; ok && v < kValues; ++v) {
        uint32_t number = static_cast<uint32_t>(v);
        ok = key.SetValue(("v" + std::to_string(v)).c_str(), os::kRegDword, &number, 4) ==
             os::kErrorSuccess;
      }
      _exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  RegDocument document;
  ASSERT_TRUE(ParseRegedit4(ReadStore(), &document));
  ASSERT_EQ(static_cast<size_t>(kProcesses), document.keys.size());
  for (const auto& key : document.keys)
    EXPECT_EQ(static_cast<size_t>(kValues), key.values.size()) << key.path;
}
