// The replace of a configuration: what a write would refuse (read-only, held open), a failure at
// every step leaving the file wholly updated or as it was with no temporary file behind, and on
// POSIX the mode, owner and group kept and no planted link or second name ever followed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>

#include "config/configuration.h"
#include "config_test_util.h"
#include "os/account.h"
#include "os/file.h"
#include "os/folder.h"
#include "test_util.h"
#include "fault/fault.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace configtest;
using fault::Op;

// The configuration's own places among an update's operations of their kinds, its folder's open
// being of a kind of its own. Its update lock comes first: the system's Temp folder opened, the
// rooms' folder made or opened, the lock's file opened. Then the configuration is the third file
// opened, the template the fourth; its temporary file is the second made and the first renamed.
constexpr int kConfigOpen = 3, kTemplateOpen = 4, kMainCreate = 2, kMainRename = 1;

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
  WriteBytes(Tpl(), Template());
  WriteBytes(Xml(), Crlf(kConfig));
  std::vector<std::string> before = Listing();
  os::File holder;
  fault::RunBefore(Op::kRename, 1,
                   [&] { ASSERT_TRUE(testutil::Hold(Xml(), os::FileMode::kRead, &holder)); });
  EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  fault::Disarm();
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
  os::File holder;
  ASSERT_TRUE(testutil::Hold(held, os::FileMode::kAppend, &holder));
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
  bool held = false;
  fault::RunBefore(Op::kRename, 1, [&] {
    for (const std::string& name : Listing()) {
      os::File other;
      if (name.find(".orvapatch-new") != std::string::npos) {
        held = !testutil::Hold(dir_ + name, os::FileMode::kRead, &other);
      }
    }
  });
  EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  fault::Disarm();
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

#ifdef _WIN32
TEST_F(ConfigTest, ActingForTheConsoleUserLoadsNoLibrary) {
  // Wine's one user is the console's. While the update acts for them, with a killed run's
  // leftover of theirs to remove, no library is loaded: a test build lists the process's modules
  // at the start and at the end of each scope of their rights.
  os::ConsoleUser user;
  if (!user.Find()) GTEST_SKIP() << "nobody at the console";
  WriteBytes(Tpl(), Template());
  WriteBytes(Xml(), Crlf(kConfig));
  const std::string leftover = Xml() + ".orvapatch-new0123456789abcdef";
  WriteBytes(leftover, "a killed run's");
  os::ActFor(std::move(user));
  {
    os::UserRights rights;
    EXPECT_TRUE(rights.Held());
    EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  }
  os::ActFor(os::ConsoleUser());
  EXPECT_EQ(0, os::LibrariesLoadedActingForUserForTesting());
  EXPECT_TRUE(SameBytes(Crlf(kUpdated), ReadBytes(Xml())));
  EXPECT_FALSE(testutil::Exists(leftover));
}
#endif

// ---------------------------------------------------------------------------------------------
// Two runs at once.

TEST_F(ConfigTest, EverySpellingOfTheProductFolderTakesItsFileOneUpdateLock) {
  // Each run has the product folder from its own registry, spelled as its administrator wrote it.
  const std::string product = machine_.Path("Logiciels Orvane\\");
  testutil::MakeDirectories(product);
  const std::string spelled = testutil::AnotherSpelling(product);
  ASSERT_NE(product, spelled);
  os::Folder held, other;
  ASSERT_EQ(os::OpenStatus::kDone, os::Folder::Open(product, &held));
  ASSERT_EQ(os::OpenStatus::kDone, os::Folder::Open(spelled, &other));
  os::UpdateLock lock;
  ASSERT_EQ(os::OpenStatus::kDone, lock.Acquire(held, "Configuration.xml", 0));
  os::UpdateLock second;
  EXPECT_EQ(os::OpenStatus::kInUse, second.Acquire(other, "CONFIGURATION.XML", 0)) << spelled;
}

// ---------------------------------------------------------------------------------------------
// A failure at any step: the file is wholly updated or as it was, never empty or partial, and
// no temporary file stays behind.

TEST_F(ConfigTest, AFailureAtEveryStepOfASmallUpdate) {
  const std::string config = Crlf(kConfig), expected = Crlf(kUpdated);
  WriteBytes(Tpl(), Template());
  WriteBytes(Xml(), config);
  const std::vector<std::string> before = Listing();
  // Once the configuration and the template are read, the steps up to the rename keep the old
  // bytes.
  const std::set<Op> keeping = {Op::kCreate, Op::kWrite, Op::kFlush, Op::kRename};
  std::set<Op> struckKinds;
  for (int nth = 1;; ++nth) {
    WriteBytes(Xml(), config);
    fault::FailNth(nth, false);
    const int result = UpdateConfigurationFile(Tpl(), Xml());
    fault::Place struck;
    const bool reached = fault::Reached(&struck);
    fault::Disarm();
    const std::string bytes = ReadBytes(Xml());
    const std::vector<std::string> listing = Listing();
    EXPECT_EQ(before, listing) << "operation " << nth;
    if (!reached) {
      EXPECT_EQ(1, result);
      EXPECT_TRUE(SameBytes(expected, bytes));
      break;
    }
    SCOPED_TRACE("operation " + std::to_string(nth) + ", kind " +
                 std::to_string(static_cast<int>(struck.kind)) + " #" + std::to_string(struck.nth));
    const bool whole = bytes == expected || bytes == Crlf(UpdatedWithOldVersion());
    EXPECT_TRUE(bytes == config || whole) << SameBytes(expected, bytes).message();
    struckKinds.insert(struck.kind);
    if (keeping.count(struck.kind) != 0) {
      EXPECT_EQ(config, bytes);
    }
    // 0: the configuration was never opened, its folder's open, a step of the update lock or its
    // own open having failed.
    const bool unopened = struck.kind == Op::kOpenFolder || struck.kind == Op::kLock ||
                          (struck.kind == Op::kOpen && struck.nth <= kConfigOpen) ||
                          (struck.kind == Op::kCreate && struck.nth < kMainCreate);
    EXPECT_EQ(unopened ? 0 : 1, result);
    for (const std::string& name : listing) {  // anything left goes before the next run
      if (std::find(before.begin(), before.end(), name) == before.end()) {
        testutil::RemoveTree(dir_ + name);
      }
    }
  }
  for (Op kind : keeping) EXPECT_EQ(1u, struckKinds.count(kind)) << static_cast<int>(kind);
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
// Nothing outside the folder is read into it, written, moved or removed, and the main file ends
// as the plant's rule says.
class PlantTest : public ConfigTest {
 protected:
  // When a plant was made: how many counted operations of each kind the run had made before it.
  struct Moment {
    int done[fault::kOpKinds] = {};
    // Made before the |nth| operation of |kind|.
    bool Before(Op kind, int nth) const { return done[static_cast<int>(kind)] < nth; }
  };

  struct Plant {
    const char* what;
    std::function<void()> make;
    // What the main file holds after a run with the plant made at |when|: its updated bytes,
    // those of a template left unread, its old ones, or nothing when the plant holds its name.
    std::function<std::string(const Moment& when)> main;
  };

  PlantTest() : outside_(machine_.Path("secret\\")) {
    testutil::MakeDirectories(outside_ + "ssvConfig");
    WriteBytes(outside_ + "Configuration.xml", kSecret);
    WriteBytes(outside_ + "ssvConfig\\Configuration.xml", kSecret);
  }

  // Runs the update of both files with |plant| made before the |nth| counted operation (0: before
  // the run), sets |*when| and |operations_|, and checks that the outside is untouched; returns
  // the main file's bytes.
  std::string RunWithPlant(int nth, const std::function<void()>& plant, Moment* when) {
    WriteBytes(Tpl(), Template());
    WriteBytes(Xml(), Crlf(kConfig));
    WriteBytes(Copy(), Crlf(kConfig));
    *when = Moment();
    fault::Disarm();
    if (nth == 0) plant();
    fault::RunBeforeNth(nth, [&] {
      for (int kind = 0; kind < fault::kOpKinds; ++kind) {
        when->done[kind] = fault::Count(static_cast<Op>(kind));
      }
      plant();
    });
    UpdateConfiguration(dir_);
    operations_ = fault::Count();
    fault::Disarm();
    EXPECT_EQ(kSecret, ReadBytes(outside_ + "Configuration.xml")) << nth;
    EXPECT_EQ(kSecret, ReadBytes(outside_ + "ssvConfig\\Configuration.xml")) << nth;
    EXPECT_EQ((std::vector<std::string>{"Configuration.xml", "ssvConfig"}), Listing(outside_))
        << nth;
    EXPECT_EQ((std::vector<std::string>{"Configuration.xml"}), Listing(outside_ + "ssvConfig"))
        << nth;
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
  int operations_ = 0;
};

TEST_F(PlantTest, LinksAndSecondNamesAreNeverFollowed) {
  const std::string out = testutil::Host(outside_);
  const std::string updated = Crlf(kUpdated), old = Crlf(kConfig), planted = "";
  const std::string unreadTemplate = Crlf(UpdatedWithOldVersion());
  const auto always = [](const std::string& bytes) {
    return [bytes](const Moment&) { return bytes; };
  };
  const std::vector<Plant> plants = {
      // Refused at the open, refused at the rename, or planted over the updated file: the link
      // keeps the main file's name whenever it is made.
      {"a link in place of the configuration", [&] { Link(out + "Configuration.xml", Xml()); },
       always(planted)},
      {"a link in place of the template", [&] { Link(out + "Configuration.xml", Tpl()); },
       [&](const Moment& when) {
         return when.Before(Op::kOpen, kTemplateOpen) ? unreadTemplate : updated;
       }},
      {"a link in place of Temp", [&] { Link(out, dir_ + "Temp"); }, always(updated)},
      {"a link in place of ssvConfig", [&] { Link(out + "ssvConfig", dir_ + "Temp\\ssvConfig"); },
       always(updated)},
      {"a link in place of the copy", [&] { Link(out + "ssvConfig/Configuration.xml", Copy()); },
       always(updated)},
      // Refused at the open; once the configuration is open, the rename puts the new text in
      // its place, and after the rename it takes the updated file's place.
      {"a second name in place of the configuration",
       [&] {
         fs::remove(testutil::Host(Xml()));
         fs::create_hard_link(out + "Configuration.xml", testutil::Host(Xml()));
       },
       [&](const Moment& when) {
         return when.Before(Op::kOpen, kConfigOpen) || !when.Before(Op::kRename, kMainRename)
                    ? planted
                    : updated;
       }},
      // The main file's temporary file, once made and until renamed, is no longer the one written:
      // the rename is refused.
      {"links in place of every temporary name there is now",
       [&] {
         for (const std::string& name : Listing()) {
           if (name.find(".orvapatch-new") != std::string::npos) {
             Link(out + "Configuration.xml", dir_ + name);
           }
         }
       },
       [&](const Moment& when) {
         return !when.Before(Op::kCreate, kMainCreate) && when.Before(Op::kRename, kMainRename)
                    ? old
                    : updated;
       }},
  };
  Moment when;
  RunWithPlant(
      0, [] {}, &when);
  const int total = operations_;
  ASSERT_GT(total, 40);  // both files updated
  for (const Plant& plant : plants) {
    for (int nth = 0; nth <= total; ++nth) {
      SCOPED_TRACE(std::string(plant.what) + " before operation " + std::to_string(nth));
      const std::string main = RunWithPlant(nth, plant.make, &when);
      EXPECT_TRUE(SameBytes(plant.main(when), main));
    }
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
