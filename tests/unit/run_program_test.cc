// The installer launch: command line, exit codes, waiting, and where the program may come from.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/run_program.h"
#include "test_util.h"

using testutil::ReadBytes;
using testutil::SetEnv;

namespace {

class RunProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    record_ = machine_.Path("record.txt");
    SetEnv("STUB_RECORD", testutil::Host(record_).c_str());
    SetEnv("STUB_EXIT", "0");
    SetEnv("STUB_SLEEP_MS", "0");
  }
  void TearDown() override {
    SetEnv("STUB_RECORD", nullptr);
    SetEnv("STUB_EXIT", nullptr);
    SetEnv("STUB_SLEEP_MS", nullptr);
  }
  // A copy of the stub installer beside the test program, under |name|.
  void CopyStub(const std::string& name) {
    std::string dir = testutil::ProgramDirectory();
    std::filesystem::copy_file(dir + STUB_INSTALLER, dir + name,
                               std::filesystem::copy_options::overwrite_existing);
    copies_.push_back(dir + name);
  }
  ~RunProgramTest() override {
    for (const std::string& copy : copies_) std::filesystem::remove(copy);
  }

  testutil::ScratchMachine machine_;
  std::string record_;
  std::vector<std::string> copies_;
};

}  // namespace

TEST_F(RunProgramTest, QuotedNameAndOneBlankMakeTheCommandLine) {
  ASSERT_EQ(0, RunProgram(STUB_INSTALLER, "", 1, 1));
  std::string record = ReadBytes(record_);
#ifdef _WIN32
  EXPECT_NE(std::string::npos, record.find("cmdline=[\"" STUB_INSTALLER "\" ]\n")) << record;
  EXPECT_NE(std::string::npos, record.find("show=1\n")) << record;
#endif
  EXPECT_NE(std::string::npos, record.find("argc=1\ndone\n")) << record;
}

TEST_F(RunProgramTest, ArgumentsAndNamesWithBlanksStayWhole) {
  CopyStub("K220 with blanks.exe");
  ASSERT_EQ(0, RunProgram("K220 with blanks.exe", "/a \"b c\" d", 0x70001, 1));
  std::string record = ReadBytes(record_);
#ifdef _WIN32
  EXPECT_NE(std::string::npos, record.find("cmdline=[\"K220 with blanks.exe\" /a \"b c\" d]\n"));
  EXPECT_NE(std::string::npos, record.find("show=1\n")) << record;  // only the low 16 bits
#endif
  EXPECT_NE(std::string::npos, record.find("argc=4\narg1=[/a]\narg2=[b c]\narg3=[d]\n")) << record;
}

TEST_F(RunProgramTest, ExitCodesComeBackSigned) {
  SetEnv("STUB_EXIT", "3");
  EXPECT_EQ(3, RunProgram(STUB_INSTALLER, "", 1, 1));
#ifdef _WIN32
  SetEnv("STUB_EXIT", "4294967295");  // all 32 bits: indistinguishable from a failed start
  EXPECT_EQ(-1, RunProgram(STUB_INSTALLER, "", 1, 1));
#else
  SetEnv("STUB_EXIT", "255");  // exit codes have 8 bits here
  EXPECT_EQ(255, RunProgram(STUB_INSTALLER, "", 1, 1));
#endif
}

TEST_F(RunProgramTest, WaitsForTheProgramOrReturnsAtOnce) {
  SetEnv("STUB_SLEEP_MS", "300");
  SetEnv("STUB_EXIT", "5");
  EXPECT_EQ(5, RunProgram(STUB_INSTALLER, "", 1, 1));
  EXPECT_NE(std::string::npos, ReadBytes(record_).find("done\n"));  // ended before we returned

  SetEnv("STUB_SLEEP_MS", "1500");
  testutil::RemoveTree(record_);
  EXPECT_EQ(0, RunProgram(STUB_INSTALLER, "", 1, 0));
  EXPECT_EQ(std::string::npos, ReadBytes(record_).find("done\n"));  // still running
}

TEST_F(RunProgramTest, ProgramsOnlyComeFromBesideTheLauncher) {
  EXPECT_EQ(-1, RunProgram("no such installer.exe", "", 1, 1));
  // Planted in the current directory, a subfolder of the scratch area, and on PATH: never started.
  std::string planted = testutil::Host(machine_.Path("planted"));
  std::filesystem::create_directories(planted);
  std::string stub = testutil::ProgramDirectory() + STUB_INSTALLER;
  std::filesystem::copy_file(stub, planted + "/planted.exe");
  std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(planted);
  const char* path = std::getenv("PATH");
  std::string oldPath = path ? path : "";
#ifdef _WIN32
  SetEnv("PATH", (planted + ";" + oldPath).c_str());
#else
  SetEnv("PATH", (planted + ":" + oldPath).c_str());
#endif
  int result = RunProgram("planted.exe", "", 1, 1);
  std::filesystem::current_path(cwd);
  SetEnv("PATH", oldPath.c_str());
  EXPECT_EQ(-1, result);
  EXPECT_FALSE(testutil::Exists(record_));
}
