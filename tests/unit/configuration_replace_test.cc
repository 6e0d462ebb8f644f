// The replace of a configuration: what a write would refuse (read-only, held open), a failure at
// every step leaving the file wholly updated or as it was with no temporary file behind, and on
// POSIX the mode, owner, group and symbolic link kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "config/configuration.h"
#include "config_test_util.h"
#include "platform/fault.h"
#include "platform/file.h"
#include "test_util.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace configtest;

// ---------------------------------------------------------------------------------------------
// What a write would have refused.

TEST_F(ConfigTest, AReadOnlyConfigurationKeepsItsBytes) {
  WriteBytes(Tpl(), Template());
  WriteBytes(Xml(), Crlf(kConfig));
  WriteBytes(Copy(), Crlf(kConfig));
  SetReadOnly(Xml(), true);
  std::vector<std::string> before = Listing();
  EXPECT_EQ(1, UpdateConfiguration(dir_));  // read, so the copy is updated all the same
  SetReadOnly(Xml(), false);
  EXPECT_EQ(Crlf(kConfig), ReadBytes(Xml()));
  EXPECT_EQ(before, Listing());
  EXPECT_TRUE(SameBytes(Crlf(kUpdated), ReadBytes(Copy())));
}

TEST_F(ConfigTest, AConfigurationOpenedByAnotherProgramAtTheReplaceKeepsItsBytes) {
  // The number of counted operations of a whole update, and the check that comes right before
  // the replace: after it, the replace takes two operations and the temporary file is closed.
  const int kAfterCheck = 3;
  WriteBytes(Tpl(), Template());
  WriteBytes(Xml(), Crlf(kConfig));
  platform::fault::Disarm();
  ASSERT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  const int total = platform::fault::Count();
  WriteBytes(Xml(), Crlf(kConfig));
  std::vector<std::string> before = Listing();
  platform::File holder;
  platform::fault::RunBeforeNth(total - kAfterCheck, [&] {
    ASSERT_TRUE(platform::File::Open(Xml(), platform::FileMode::kRead, false, &holder));
  });
  EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  platform::fault::Disarm();
  ASSERT_TRUE(holder.IsOpen());  // the action ran
  holder.Close();
  EXPECT_EQ(Crlf(kConfig), ReadBytes(Xml()));
  EXPECT_EQ(before, Listing());
}

// ---------------------------------------------------------------------------------------------
// Temporary files that a killed run left behind.

TEST_F(ConfigTest, ALeftTemporaryFileIsTakenOverAndNeverReadAsTheConfiguration) {
  WriteBytes(Tpl(), Template());
  WriteBytes(Xml(), Crlf(kConfig));
  const std::vector<std::string> before = Listing();
  // Half of a new text, as a run killed while writing leaves it.
  WriteBytes(Xml() + ".orvapatch-new1", Crlf(kUpdated).substr(0, 100));
  EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  EXPECT_TRUE(SameBytes(Crlf(kUpdated), ReadBytes(Xml())));
  EXPECT_EQ(before, Listing());
}

TEST_F(ConfigTest, ATemporaryFileAnotherRunHoldsOpenIsLeftToIt) {
  WriteBytes(Tpl(), Template());
  WriteBytes(Xml(), Crlf(kConfig));
  const std::string held = Xml() + ".orvapatch-new1";
  WriteBytes(held, "another run's text");
  const std::vector<std::string> before = Listing();
  platform::File holder;
  ASSERT_TRUE(platform::File::Open(held, platform::FileMode::kAppend, false, &holder));
  EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  holder.Close();
  EXPECT_TRUE(SameBytes(Crlf(kUpdated), ReadBytes(Xml())));
  EXPECT_EQ("another run's text", ReadBytes(held));
  EXPECT_EQ(before, Listing());
}

#ifndef _WIN32
TEST_F(ConfigTest, OurTemporaryFileIsHeldUntilItHasReplacedTheConfiguration) {
  // Another run that looked for leftovers just before the rename must find the temporary file
  // held, or it would take it over and the rename would put its unfinished text in place.
  WriteBytes(Tpl(), Template());
  WriteBytes(Xml(), Crlf(kConfig));
  platform::fault::Disarm();
  ASSERT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  const int total = platform::fault::Count();
  WriteBytes(Xml(), Crlf(kConfig));
  bool held = false;
  platform::fault::RunBeforeNth(total - 1, [&] {  // the rename
    held = !platform::IsWritable(Xml() + ".orvapatch-new1");
  });
  EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  platform::fault::Disarm();
  EXPECT_TRUE(held);
  EXPECT_TRUE(SameBytes(Crlf(kUpdated), ReadBytes(Xml())));
}
#endif

TEST_F(ConfigTest, ABackupLeftByAnInterruptedReplaceIsTheConfigurationOnlyWhenItIsAlone) {
  WriteBytes(Tpl(), Template());
  WriteBytes(Xml(), Crlf(kConfig));
  const std::vector<std::string> before = Listing();
  // Beside the configuration: an older copy, removed.
  WriteBytes(Xml() + ".orvapatch-backup", "an older configuration");
  EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  EXPECT_TRUE(SameBytes(Crlf(kUpdated), ReadBytes(Xml())));
  EXPECT_EQ(before, Listing());
  // Alone: the configuration itself, moved back and updated.
  WriteBytes(Xml() + ".orvapatch-backup", Crlf(kConfig));
  testutil::RemoveTree(Xml());
  EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  EXPECT_TRUE(SameBytes(Crlf(kUpdated), ReadBytes(Xml())));
  EXPECT_EQ(before, Listing());
  // A directory under that name is left as it is.
  testutil::MakeDirectories(Xml() + ".orvapatch-backup");
  EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  testutil::RemoveTree(Xml() + ".orvapatch-backup");
  EXPECT_EQ(before, Listing());
}


// ---------------------------------------------------------------------------------------------
// A failure at any step: the file is wholly updated or as it was, never empty or partial, and
// no temporary file stays behind.

namespace {

struct Outcome {
  int result;
  std::string bytes;
  std::vector<std::string> listing;
};

}  // namespace

class ConfigFaultTest : public ConfigTest {
 protected:
  // The temporary file is made before the configuration is read into it; once the configuration
  // is read and closed, the update ends: write the last piece (the only one for a small file),
  // flush it, check that the configuration may be written, then replace: take over what the
  // configuration keeps (POSIX: mode and owner; Windows: creation time and attributes), rename,
  // and only then close the temporary file, the update being done.
  static constexpr size_t kWrite = 6, kDone = 1;

  // Runs the update once for each counted operation, that operation failing, and checks each
  // outcome; returns them in order.
  std::vector<Outcome> FailEachStep(const std::string& config, const std::string& expected,
                                    const std::string& withOldVersion) {
    WriteBytes(Tpl(), Template());
    WriteBytes(Xml(), config);
    const std::vector<std::string> before = Listing();
    std::vector<Outcome> outcomes;
    for (int nth = 1;; ++nth) {
      WriteBytes(Xml(), config);
      platform::fault::FailNth(nth, false);
      int result = UpdateConfigurationFile(Tpl(), Xml());
      bool struck = platform::fault::Count() >= nth;
      platform::fault::Disarm();
      Outcome outcome{result, ReadBytes(Xml()), Listing()};
      if (!struck) {
        EXPECT_EQ(1, result);
        EXPECT_TRUE(SameBytes(expected, outcome.bytes));
        EXPECT_EQ(before, outcome.listing);
        break;
      }
      outcomes.push_back(outcome);
      bool kept = outcome.bytes == config;
      bool whole = outcome.bytes == expected || outcome.bytes == withOldVersion;
      EXPECT_TRUE(kept || whole) << "operation " << nth << ": "
                                 << SameBytes(expected, outcome.bytes).message();
      // 0: the update lock (operation 1) or the first open (operation 3, after the look for a
      // backup) failed.
      EXPECT_EQ(nth == 1 || nth == 3 ? 0 : 1, result) << "operation " << nth;
      EXPECT_EQ(before, outcome.listing) << "operation " << nth;
      for (const std::string& name : outcome.listing) {  // anything left goes before the next run
        if (std::find(before.begin(), before.end(), name) == before.end()) {
          testutil::RemoveTree(dir_ + name);
        }
      }
    }
    return outcomes;
  }
};

TEST_F(ConfigFaultTest, EveryStepOfASmallUpdate) {
  std::vector<Outcome> outcomes =
      FailEachStep(Crlf(kConfig), Crlf(kUpdated), Crlf(UpdatedWithOldVersion()));
  ASSERT_GT(outcomes.size(), kWrite);
  for (size_t i = outcomes.size() - kWrite; i < outcomes.size() - kDone; ++i) {
    EXPECT_EQ(Crlf(kConfig), outcomes[i].bytes) << "write step " << i + kWrite - outcomes.size();
  }
  // Before the write, a failed open or read in the reading of the configuration leaves it as it
  // was too, as do the failed lock and first open.
  size_t kept = 0;
  for (const Outcome& outcome : outcomes) kept += outcome.bytes == Crlf(kConfig);
  EXPECT_GE(kept, kWrite - kDone + 2 + 2);
}

TEST_F(ConfigFaultTest, EveryStepOfAnUpdateReadAndWrittenInSeveralPieces) {
  std::string config, expected;
  for (int i = 0; config.size() < (5u << 19); ++i) {
    config += "  <module id=\"" + std::to_string(i) + "\"><active>0</active></module>\r\n";
    expected += "  <module id=\"" + std::to_string(i) + "\"><active>1</active></module>\r\n";
  }
  std::vector<Outcome> outcomes = FailEachStep(config, expected, expected);
  // A failure at any step of the reads and the writes of the pieces, and at any after them,
  // leaves the old bytes; but for the configuration's close after its last read, which loses
  // nothing. At least two pieces written.
  size_t kept = 0;
  bool closed = false;
  for (size_t i = outcomes.size() - kDone; i-- > 0;) {
    if (outcomes[i].bytes == config) {
      ++kept;
    } else if (!closed) {
      closed = true;
    } else {
      break;
    }
  }
  EXPECT_GE(kept, kWrite - kDone + 2);
}

// ---------------------------------------------------------------------------------------------
// What the replace keeps on POSIX.

#ifndef _WIN32
TEST_F(ConfigTest, ModeOwnerAndGroupAreKept) {
  WriteBytes(Tpl(), Template());
  WriteBytes(Xml(), Crlf(kConfig));
  std::string host = testutil::Host(Xml());
  ASSERT_EQ(0, ::chmod(host.c_str(), 0640));
  bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(0, ::chown(host.c_str(), 1234, 5678));
  }
  EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  EXPECT_TRUE(SameBytes(Crlf(kUpdated), ReadBytes(Xml())));
  struct stat st;
  ASSERT_EQ(0, ::stat(host.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  if (root) {
    EXPECT_EQ(1234u, st.st_uid);
    EXPECT_EQ(5678u, st.st_gid);
  }
}

TEST_F(ConfigTest, ASymbolicLinkStaysAndTheFileItNamesIsReplaced) {
  WriteBytes(Tpl(), Template());
  testutil::MakeDirectories(dir_ + "real");
  WriteBytes(dir_ + "real\\Configuration.xml", Crlf(kConfig));
  ASSERT_EQ(0, ::symlink("real/Configuration.xml", testutil::Host(Xml()).c_str()));
  EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  EXPECT_TRUE(fs::is_symlink(testutil::Host(Xml())));
  EXPECT_TRUE(SameBytes(Crlf(kUpdated), ReadBytes(dir_ + "real\\Configuration.xml")));
  EXPECT_EQ((std::vector<std::string>{"Configuration.xml"}), Listing(dir_ + "real"));
  EXPECT_EQ((std::vector<std::string>{"Configuration.tpl", "Configuration.xml", "Temp", "real"}),
            Listing());
}

TEST_F(ConfigTest, NoWriteBitIsReadOnlyEvenForRoot) {
  WriteBytes(Tpl(), Template());
  WriteBytes(Xml(), Crlf(kConfig));
  ASSERT_EQ(0, ::chmod(testutil::Host(Xml()).c_str(), 0444));
  EXPECT_FALSE(platform::IsWritable(Xml()));
  EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  EXPECT_EQ(Crlf(kConfig), ReadBytes(Xml()));
  ASSERT_EQ(0, ::chmod(testutil::Host(Xml()).c_str(), 0604));  // one write bit: writable
  EXPECT_TRUE(platform::IsWritable(Xml()));
}
#endif
