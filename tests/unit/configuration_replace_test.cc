// The replace of a configuration: what a write would refuse (read-only, held open), a failure at
// every step leaving the file wholly updated or as it was with no temporary file behind, and on
// POSIX the mode, owner and group kept and no planted link or second name ever followed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <future>

#include "config/configuration.h"
#include "config_test_util.h"
#include "os/file.h"
#include "os/folder.h"
#include "test_util.h"
#include "testing/fault.h"

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
  ConfigReport report;
  EXPECT_EQ(1, UpdateConfiguration(dir_, &report));  // read, so the copy is updated all the same
  EXPECT_EQ(ConfigOutcome::kReadOnly, report.main.outcome);
  EXPECT_EQ(ConfigOutcome::kUpdated, report.copy.outcome);
  SetReadOnly(Xml(), false);
  EXPECT_EQ(Crlf(kConfig), ReadBytes(Xml()));
  EXPECT_EQ(before, Listing());
  EXPECT_TRUE(SameBytes(Crlf(kUpdated), ReadBytes(Copy())));
}

TEST_F(ConfigTest, AConfigurationOpenedByAnotherProgramAtTheReplaceKeepsItsBytes) {
  // The number of counted operations of a whole update, and the replace's place among them: after
  // it, the temporary file and the product folder are closed.
  const int kAfterCheck = 2;
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
  // held, or it would remove it and the rename would fail.
  WriteBytes(Tpl(), Template());
  WriteBytes(Xml(), Crlf(kConfig));
  platform::fault::Disarm();
  ASSERT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  const int total = platform::fault::Count();
  WriteBytes(Xml(), Crlf(kConfig));
  bool held = false;
  platform::fault::RunBeforeNth(total - 2, [&] {  // the rename
    for (const std::string& name : Listing()) {
      platform::File other;
      if (name.find(".orvapatch-new") != std::string::npos) {
        held = !platform::File::Open(dir_ + name, platform::FileMode::kRead, false, &other);
      }
    }
  });
  EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  platform::fault::Disarm();
  EXPECT_TRUE(held);
  EXPECT_TRUE(SameBytes(Crlf(kUpdated), ReadBytes(Xml())));
}
#endif

TEST_F(ConfigTest, NamesTheProgramDidNotJustMakeAreNeverRemovedOrRenamed) {
  WriteBytes(Tpl(), Template());
  WriteBytes(Xml(), Crlf(kConfig));
  // A backup of an older release's name, and a folder under a temporary file's name: neither is
  // this run's, so both stay as they are.
  WriteBytes(Xml() + ".orvapatch-backup", "an older configuration");
  testutil::MakeDirectories(Xml() + ".orvapatch-new1");
  const std::vector<std::string> before = Listing();
  EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  EXPECT_TRUE(SameBytes(Crlf(kUpdated), ReadBytes(Xml())));
  EXPECT_EQ(before, Listing());
  EXPECT_EQ("an older configuration", ReadBytes(Xml() + ".orvapatch-backup"));
}

// ---------------------------------------------------------------------------------------------
// Two runs at once.

TEST_F(ConfigTest, EverySpellingOfTheProductFolderTakesItsFileOneUpdateLock) {
  // Each run has the product folder from its own registry, spelled as its administrator wrote it.
  const std::string product = machine_.Path("Logiciels Orvane\\");
  testutil::MakeDirectories(product);
  const std::string spelled = testutil::AnotherSpelling(product);
  ASSERT_NE(product, spelled);
  platform::Folder held, other;
  ASSERT_EQ(platform::OpenStatus::kDone, platform::Folder::Open(product, &held));
  ASSERT_EQ(platform::OpenStatus::kDone, platform::Folder::Open(spelled, &other));
  platform::UpdateLock lock;
  ASSERT_TRUE(lock.Acquire(held, "Configuration.xml", 0));
  // From another thread: on Windows the thread that holds a mutex may take it again.
  EXPECT_FALSE(std::async(std::launch::async, [&] {
                 platform::UpdateLock second;
                 return second.Acquire(other, "CONFIGURATION.XML", 0);
               }).get())
      << spelled;
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
  // Once the configuration and the template are read, the update ends: create the temporary
  // file (taking over what the configuration keeps), write it (one piece for a small file), flush
  // it, close the configuration, rename, and only then close the temporary file and the product
  // folder, the update being done. Counted from the end: the steps that must keep the old bytes.
  static constexpr size_t kCreate = 7, kWrite = 6, kFlush = 5, kRename = 3;

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
      // 0: the product folder (operation 1), the update lock (2) or the configuration's open (4,
      // after the look for leftovers) failed.
      EXPECT_EQ(nth == 1 || nth == 2 || nth == 4 ? 0 : 1, result) << "operation " << nth;
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
  ASSERT_GT(outcomes.size(), kCreate);
  for (size_t step : {kCreate, kWrite, kFlush, kRename}) {
    EXPECT_EQ(Crlf(kConfig), outcomes[outcomes.size() - step].bytes) << "step " << step;
  }
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

// What a standard user may plant in the product folder, which such a user may write, before
// the run or at any step of it: a link in place of the configuration, the template, a folder on
// the way to the copy or a temporary name, or a second name of a file outside the folder.
// Nothing outside the folder is read into it, written, moved or removed, and the main file is
// still updated whenever the plant did not take its own place before it was opened.
class PlantTest : public ConfigTest {
 protected:
  PlantTest() : outside_(machine_.Path("secret\\")) {
    testutil::MakeDirectories(outside_ + "ssvConfig");
    WriteBytes(outside_ + "Configuration.xml", kSecret);
    WriteBytes(outside_ + "ssvConfig\\Configuration.xml", kSecret);
  }

  // Runs the update of both files with |plant| made before the |nth| counted operation (0: before
  // the run) and checks that the outside is untouched; returns the main file's bytes.
  std::string RunWithPlant(int nth, const std::function<void()>& plant) {
    WriteBytes(Tpl(), Template());
    WriteBytes(Xml(), Crlf(kConfig));
    WriteBytes(Copy(), Crlf(kConfig));
    if (nth == 0) {
      plant();
    } else {
      platform::fault::RunBeforeNth(nth, plant);
    }
    UpdateConfiguration(dir_);
    platform::fault::Disarm();
    EXPECT_EQ(kSecret, ReadBytes(outside_ + "Configuration.xml")) << nth;
    EXPECT_EQ(kSecret, ReadBytes(outside_ + "ssvConfig\\Configuration.xml")) << nth;
    EXPECT_EQ((std::vector<std::string>{"Configuration.xml", "ssvConfig"}), Listing(outside_)) << nth;
    EXPECT_EQ((std::vector<std::string>{"Configuration.xml"}), Listing(outside_ + "ssvConfig")) << nth;
    // The planted name itself aside, no text of the outside is in the folder.
    const std::string host = testutil::Host(Xml());
    const bool planted = fs::is_symlink(host) || fs::hard_link_count(host) > 1;
    const std::string main = planted ? "" : ReadBytes(Xml());
    EXPECT_EQ(std::string::npos, main.find("secret")) << nth;
    // The product folder as it was for the next round.
    fs::remove_all(testutil::Host(dir_ + "Temp"));  // a link there goes, not what it names
    for (const std::string& name : {Xml(), Tpl()}) fs::remove(testutil::Host(name));
    testutil::MakeDirectories(dir_ + "Temp\\ssvConfig");
    return main;
  }

  // Puts a symbolic link to |target| (a host path) in place of |windowsPath|.
  static void Link(const std::string& target, const std::string& windowsPath) {
    fs::remove_all(testutil::Host(windowsPath));
    fs::create_symlink(target, testutil::Host(windowsPath));
  }

  const std::string kSecret = "<secret><active>0</active></secret>\r\n";
  std::string outside_;
};

TEST_F(PlantTest, LinksAndSecondNamesAreNeverFollowed) {
  const std::string out = testutil::Host(outside_);
  const std::vector<std::function<void()>> plants = {
      [&] { Link(out + "Configuration.xml", Xml()); },
      [&] { Link(out + "Configuration.xml", Tpl()); },
      [&] { Link(out, dir_ + "Temp"); },
      [&] { Link(out + "ssvConfig", dir_ + "Temp\\ssvConfig"); },
      [&] { Link(out + "ssvConfig/Configuration.xml", Copy()); },
      [&] {
        fs::remove(testutil::Host(Xml()));
        fs::create_hard_link(out + "Configuration.xml", testutil::Host(Xml()));
      },
      [&] {  // every temporary name there is now
        for (const std::string& name : Listing()) {
          if (name.find(".orvapatch-new") != std::string::npos) {
            Link(out + "Configuration.xml", dir_ + name);
          }
        }
      },
  };
  platform::fault::Disarm();
  UpdateConfiguration(dir_);
  const int total = platform::fault::Count();
  for (size_t p = 0; p < plants.size(); ++p) {
    int updated = 0;
    for (int nth = 0; nth <= total; ++nth) {
      SCOPED_TRACE("plant " + std::to_string(p));
      updated += SameBytes(Crlf(kUpdated), RunWithPlant(nth, plants[p])) ? 1 : 0;
    }
    // Planted before the run in place of the main file, the plant leaves it; anywhere else, or
    // once the file is open, the main file is updated.
    EXPECT_GE(updated, total - 5) << "plant " << p;
  }
}

TEST_F(ConfigTest, NoWriteBitIsReadOnlyEvenForRoot) {
  WriteBytes(Tpl(), Template());
  WriteBytes(Xml(), Crlf(kConfig));
  ASSERT_EQ(0, ::chmod(testutil::Host(Xml()).c_str(), 0444));
  EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  EXPECT_EQ(Crlf(kConfig), ReadBytes(Xml()));
  ASSERT_EQ(0, ::chmod(testutil::Host(Xml()).c_str(), 0604));  // one write bit: writable
  EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  EXPECT_TRUE(SameBytes(Crlf(kUpdated), ReadBytes(Xml())));
}
#endif
