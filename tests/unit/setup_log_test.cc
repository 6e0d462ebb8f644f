// The installation log: exact bytes, the size limit, the fallback folder and self-closing.
#include <gtest/gtest.h>

#include "log/setup_log.h"
#include "os/file.h"
#include "test_util.h"
#include "fault/fault.h"

using testutil::MaskTimes;
using testutil::ReadBytes;
using testutil::SameBytes;
using testutil::WriteBytes;

namespace {

const std::string kSep(86, '-');

std::string StartBanner() {
  return kSep + "\r\nD\xE9marrage de l'installation de Orvane 2014.4.2 le : DATE\r\n" + kSep +
         "\r\n";
}

std::string EndBanner() {
  return "TIME - Fermeture du programme d'installation de Orvane.\r\n" + kSep + "\r\n\r\n\r\n";
}

// |size| bytes of CR LF lines whose content tells where they stand.
std::string NumberedBytes(size_t size) {
  std::string bytes;
  for (int i = 0; bytes.size() < size; ++i) bytes += "line " + std::to_string(i) + "\r\n";
  bytes.resize(size);
  return bytes;
}

}  // namespace

TEST(SetupLog, WholeSectionIsExactBytes) {
  testutil::ScratchMachine machine;
  WriteBytes(machine.WindowsLog(), "earlier run\r\n");
  {
    CSetupLog log;
    EXPECT_EQ(1, log.Log("SoftVersion dans la base de regsitre - %s", "2014.4"));
    EXPECT_EQ(1, log.LogError("Impossible de lire SoftVersion dans la base de regsitre "));
    EXPECT_EQ(1, log.Log("two\nlines and a\r\npair"));
    EXPECT_EQ(1, log.LogError("%s", ""));
    EXPECT_EQ(1, log.Log("%s", "C:\\100%s\\%d"));  // a registry text reaches the log verbatim
    EXPECT_EQ(1, log.Log("%u.%u", 2014u, 7u));
  }
  EXPECT_EQ("earlier run\r\n" + StartBanner() +
                "TIME - SoftVersion dans la base de regsitre - 2014.4\r\n"
                "TIME - ***Impossible de lire SoftVersion dans la base de regsitre \r\n"
                "TIME - two lines and a\r pair\r\n"
                "TIME - ***\r\n"
                "TIME - C:\\100%s\\%d\r\n"
                "TIME - 2014.7\r\n" +
                EndBanner(),
            MaskTimes(ReadBytes(machine.WindowsLog())));
}

TEST(SetupLog, StartBannerUsesTheInitialLocaleAndTwoDigitFields) {
  testutil::ScratchMachine machine;
  { CSetupLog log; }
  std::string text = ReadBytes(machine.WindowsLog());
  size_t at = text.find(" le : ");
  ASSERT_NE(std::string::npos, at);
  std::string date = text.substr(at + 6, text.find('\r', at) - at - 6);
  static const char* kDays[] = {"Sunday ",   "Monday ", "Tuesday ", "Wednesday ",
                                "Thursday ", "Friday ", "Saturday "};
  bool english = false;
  for (const char* day : kDays) english |= date.rfind(day, 0) == 0;
  EXPECT_TRUE(english) << date;
  EXPECT_EQ("DATE", MaskTimes(date));
}

TEST(SetupLog, SecondRunAppendsItsOwnSection) {
  testutil::ScratchMachine machine;
  { CSetupLog log; }
  { CSetupLog log; }
  std::string section = StartBanner() + EndBanner();
  EXPECT_EQ(section + section, MaskTimes(ReadBytes(machine.WindowsLog())));
}

TEST(SetupLog, LengthLimitCutsToTheLastBytesExactly) {
  testutil::ScratchMachine machine;
  CSetupLog log;
  const std::string path = machine.Path("capped.log");
  const std::string other = machine.Path("other.log");
  // The log holds its file with no sharing: it is switched to another file before each look.
  auto contents = [&] {
    log.OpenFile(other.c_str(), 0);
    return ReadBytes(path);
  };
  // At the limit nothing is cut; one byte over it, the last 512 KiB stay byte for byte, NUL
  // bytes and CR LF pairs included, even when the cut falls inside a line.
  std::string atLimit = NumberedBytes(1048576);
  std::string overLimit = NumberedBytes(1048577);
  overLimit[1048577 - 1000] = '\0';
  overLimit[10] = '\0';
  std::string shorter = NumberedBytes(1048577);

  WriteBytes(path, atLimit);
  ASSERT_EQ(1, log.OpenFile(path.c_str(), 0));
  EXPECT_EQ(1, log.WriteText("x\n"));
  EXPECT_TRUE(SameBytes(atLimit + "x\r\n", contents()));

  WriteBytes(path, overLimit);
  ASSERT_EQ(1, log.OpenFile(path.c_str(), 0));
  EXPECT_EQ(1, log.WriteText("x\n"));
  EXPECT_EQ(1, log.WriteText("y\n"));  // the log stays open and appends after the kept part
  EXPECT_TRUE(SameBytes(overLimit.substr(overLimit.size() - 524288) + "x\r\ny\r\n", contents()));
}

TEST(SetupLog, FallsBackToDocumentsWhileAnotherRunHoldsTheFile) {
  testutil::ScratchMachine machine;
  os::File holder;
  ASSERT_TRUE(testutil::Hold(machine.WindowsLog(), os::FileMode::kAppend, &holder));
  {
    CSetupLog log;
    EXPECT_EQ(1, log.Log("second run"));
  }
  holder.Close();
  EXPECT_EQ("", ReadBytes(machine.WindowsLog()));
  EXPECT_EQ(StartBanner() + "TIME - second run\r\n" + EndBanner(),
            MaskTimes(ReadBytes(machine.DocumentsLog())));
}

TEST(SetupLog, FailedWriteClosesTheLogForTheRestOfTheRun) {
  testutil::ScratchMachine machine;
  {
    CSetupLog log;
    EXPECT_EQ(1, log.Log("before"));
    fault::FailAt(fault::Op::kWrite, 1);
    EXPECT_EQ(0, log.Log("lost"));
    fault::Disarm();
    EXPECT_EQ(0, log.Log("after"));
    EXPECT_EQ(0, log.LogError("after"));
  }
  // No closing banner: the log closed itself, and every earlier line is there.
  EXPECT_EQ(StartBanner() + "TIME - before\r\n", MaskTimes(ReadBytes(machine.WindowsLog())));
}

TEST(SetupLog, EveryFailureWhileShorteningClosesTheLogAndKeepsTheData) {
  testutil::ScratchMachine machine;
  CSetupLog log;
  const std::string path = machine.Path("capped.log");
  const std::string old = NumberedBytes(1048577);
  const std::string kept = old.substr(old.size() - 524288);
  // Operations of one shortening write, all through the log's one handle: seek end, seek, read,
  // cut, write kept, write text. Each one failing in turn, and every one after it:
  using fault::Op;
  int writes = 0;
  for (int nth = 1;; ++nth) {
    WriteBytes(path, old);
    ASSERT_EQ(1, log.OpenFile(path.c_str(), 0));
    fault::FailNth(nth, true);
    int result = log.WriteText("x\n");
    fault::Place struck;
    const bool reached = fault::Reached(&struck);
    fault::Disarm();
    if (reached) {
      EXPECT_EQ(0, result) << nth;
      EXPECT_EQ(0, log.WriteText("y\n")) << nth;  // closed for good
    }
    log.OpenFile(machine.Path("other.log").c_str(), 0);
    std::string after = ReadBytes(path);
    if (!reached) {
      EXPECT_EQ(1, result);
      EXPECT_TRUE(SameBytes(kept + "x\r\n", after));
      break;
    }
    // The old bytes until the cut; then the kept tail, then the text, each written whole or not.
    const bool write = struck.kind == Op::kWrite;
    const std::string expected = !write || struck.nth == 1 ? old : struck.nth == 2 ? "" : kept;
    EXPECT_TRUE(SameBytes(expected, after)) << nth;
    writes = write ? struck.nth : writes;
    ASSERT_LT(nth, 20);
  }
  EXPECT_EQ(3, writes);  // the cut, the kept tail and the text each failed
}

TEST(SetupLog, NoLocationMeansSilence) {
  testutil::ScratchMachine machine;
  fault::FailNth(1, true);  // neither folder's file can be opened
  CSetupLog log;
  fault::Disarm();
  EXPECT_EQ(0, log.Log("nobody hears this"));
  EXPECT_EQ(0, log.WriteText("nor this\n"));
}
