// The machine root's mapping of Windows paths and command lines onto the host.
#include <gtest/gtest.h>

#include "machine/paths.h"
#include "test_util.h"
#include "os/posix/host.h"

using os::posix::HostPath;
using os::posix::SplitCommandLine;

TEST(MachineRootPaths, DrivesAndRootedPathsStayInsideTheRoot) {
  testutil::SetEnv("ORVAPATCH_ROOT", "/m");
  std::string host;
  ASSERT_TRUE(HostPath("C:\\WORVA32\\/Configuration.xml", &host));
  EXPECT_EQ("/m/drive_c/WORVA32/Configuration.xml", host);
  ASSERT_TRUE(HostPath("d:/App/", &host));
  EXPECT_EQ("/m/drive_d/App/", host);
  ASSERT_TRUE(HostPath("\\windows\\orvapatch.log", &host));
  EXPECT_EQ("/m/drive_c/windows/orvapatch.log", host);
  // Dots resolve as Windows resolves them, never above the drive's root.
  ASSERT_TRUE(HostPath("C:\\..\\..\\outside\\.\\x\\..\\Configuration.xml", &host));
  EXPECT_EQ("/m/drive_c/outside/Configuration.xml", host);
  ASSERT_TRUE(HostPath("C:\\..", &host));
  EXPECT_EQ("/m/drive_c", host);
  // cp1252 names become UTF-8 on the host.
  ASSERT_TRUE(HostPath("C:\\Soci\xE9t\xE9\\\x80", &host));
  EXPECT_EQ("/m/drive_c/Soci\xC3\xA9t\xC3\xA9/\xE2\x82\xAC", host);
}

TEST(MachineRootPaths, NetworkPathsFailAndRelativePathsStayRelative) {
  testutil::SetEnv("ORVAPATCH_ROOT", "/m");
  std::string host = "untouched";
  EXPECT_FALSE(HostPath("\\\\server\\share\\x", &host));
  EXPECT_FALSE(HostPath("//Configuration.xml", &host));
  EXPECT_EQ("untouched", host);
  ASSERT_TRUE(HostPath("..\\bin\\x.exe", &host));
  EXPECT_EQ("../bin/x.exe", host);
}

TEST(MachineRootPaths, CommandLinesSplitAsWindowsSplitsThem) {
  EXPECT_EQ(std::vector<std::string>{"K220_V2014_V2014.4.2.exe"},
            SplitCommandLine("\"K220_V2014_V2014.4.2.exe\" "));
  EXPECT_EQ((std::vector<std::string>{"C:\\a b\\x.exe", "/a", "b c", "d\"e", "f\\\\"}),
            SplitCommandLine("\"C:\\a b\\x.exe\" /a \"b c\" d\\\"e f\\\\"));
}
