// The configuration update: reading with line-end conversion, the five edits and their limits,
// the exact bytes of the rewritten files, the module version taken whole or not at all, and the
// configuration and its copy.
#include <gtest/gtest.h>

#include "config/configuration.h"
#include "config_test_util.h"
#include "os/file.h"
#include "test_util.h"
#include "fault/fault.h"

using namespace configtest;

// ---------------------------------------------------------------------------------------------
// Reading.

TEST_F(ConfigTest, ReadTextAndFindAppendsLinesAndFindsInTheWholeBuffer) {
  WriteBytes(Xml(), Bytes("<b>x\r\ny\rz\x1A"
                          "after\0nul\r\n\nlast"));
  std::string buffer = "kept\n";
  EXPECT_EQ(
      5, ReadIn("Configuration.xml", "<b>", &buffer));  // not emptied first: position in the whole
  EXPECT_EQ(Bytes("kept\n<b>x\ny\rz\x1A"
                  "after\0nul\n\nlast\n"),
            buffer);
  EXPECT_EQ(0, ReadIn("Configuration.xml", "kept", &buffer));
  buffer.clear();
  EXPECT_EQ(0, ReadIn("Configuration.xml", "<b>", &buffer));  // at the very first character
  EXPECT_EQ(-1, ReadIn("Configuration.xml", "<c>", &buffer));
}

TEST_F(ConfigTest, ReadTextAndFindLeavesTheBufferWhenTheFileCannotBeRead) {
  std::string buffer = "before";
  EXPECT_EQ(-1, ReadIn("missing.xml", "b", &buffer));
  EXPECT_EQ("before", buffer);
  WriteBytes(Xml(), "abc");
  {
    os::File holder;
    ASSERT_TRUE(testutil::Hold(Xml(), os::FileMode::kRead, &holder));
    EXPECT_EQ(-1, ReadIn("Configuration.xml", "b", &buffer));  // held open by another opener
  }
  EXPECT_EQ("before", buffer);
  // A read that fails in the middle of a file leaves nothing of it behind.
  WriteBytes(Xml(), std::string(3 << 20, 'x'));
  for (int nth = 1;; ++nth) {
    fault::FailNth(nth, false);
    int found = ReadIn("Configuration.xml", "x", &buffer);
    fault::Place struck;
    const bool reached = fault::Reached(&struck);
    fault::Disarm();
    if (!reached) break;
    if (found == -1) {
      EXPECT_EQ("before", buffer) << "operation " << nth;
    } else {
      // Only the close comes after everything was read.
      EXPECT_EQ(fault::Op::kClose, struck.kind) << nth;
      EXPECT_TRUE(SameBytes("before" + std::string(3 << 20, 'x') + "\n", buffer)) << nth;
      buffer = "before";
    }
  }
}

TEST_F(ConfigTest, LineEndsAreConvertedOnceWhereverTheyStand) {
  // A CR LF pair, and a lone CR, across every 4 KiB boundary, where a read in pieces would
  // end between the two bytes.
  std::string pairs(4095, 'x'), lones(4095, 'x'), expected(4095, 'x');
  for (int k = 1; k < 1024; ++k) {
    pairs += "\r\n" + std::string(4094, 'x');
    expected += "\n" + std::string(4094, 'x');
    lones += "\rz" + std::string(4094, 'x');
  }
  pairs += '\r';  // and one at the very end
  expected += "\r\n";
  WriteBytes(Xml(), pairs);
  std::string buffer;
  ReadIn("Configuration.xml", "", &buffer);
  EXPECT_TRUE(SameBytes(expected, buffer));
  WriteBytes(Xml(), lones);
  buffer.clear();
  ReadIn("Configuration.xml", "", &buffer);
  EXPECT_TRUE(SameBytes(lones + "\n", buffer));
  // Every kind of line end and lone CR, side by side.
  WriteBytes(Xml(), "a\r\nb\rc\r\r\nd\n\n\re\r");
  buffer.clear();
  ReadIn("Configuration.xml", "", &buffer);
  EXPECT_EQ("a\nb\rc\r\nd\n\n\re\r\n", buffer);
}

// ---------------------------------------------------------------------------------------------
// The edits and the layout of the rewritten file.

TEST_F(ConfigTest, ATypicalConfigurationGetsAllFiveEditsWithCrLfLines) {
  WriteBytes(Tpl(), Template());
  WriteBytes(Xml(), Crlf(kConfig));
  std::vector<std::string> before = Listing();
  EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  EXPECT_TRUE(SameBytes(Crlf(kUpdated), ReadBytes(Xml())));
  EXPECT_EQ(Template(), ReadBytes(Tpl()));
  EXPECT_EQ(before, Listing());  // no temporary file or backup stays behind
}

TEST_F(ConfigTest, ASecondRunLeavesTheFileByteForByte) {
  std::string once = Updated(Crlf(kConfig));
  EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  EXPECT_TRUE(SameBytes(once, ReadBytes(Xml())));
  EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  EXPECT_TRUE(SameBytes(once, ReadBytes(Xml())));
}

TEST_F(ConfigTest, LfOnlyLinesAndALastLineWithoutLineEndComeOutCrLf) {
  EXPECT_EQ("a\r\n\r\nb <active>1</active>\r\n", Updated("a\n\nb <active>0</active>"));
  EXPECT_EQ("plain\r\nno tags\r\n", Updated("plain\nno tags"));  // rewritten with no edit at all
  EXPECT_EQ("mixed\r\nends\r\n", Updated("mixed\r\nends\n"));
}

TEST_F(ConfigTest, CtrlZNulAndLoneCrBytesAreKeptAndTextAfterThemEdited) {
  EXPECT_EQ(Bytes("a\x1A"
                  "b\rc\0d\r\n<active>1</active>\r\r\n"),
            Updated(Bytes("a\x1A"
                          "b\rc\0d\r\n<active>0</active>\r\r\n")));
}

TEST_F(ConfigTest, VersionCodOfAnotherLengthStays) {
  EXPECT_EQ("<x/><versionCOD>030</versionCOD>\r\n<versionCOD>03021</versionCOD>\r\n",
            Updated("<x/><versionCOD>030</versionCOD>\n<versionCOD>03021</versionCOD>\n"));
  EXPECT_EQ("<x/>\r\n", Updated("<x/><versionCOD>0302</versionCOD>\n"));
}

TEST_F(ConfigTest, OnlyElementsWithTheFirstValueAreRemoved) {
  EXPECT_EQ(Crlf({"<x/>", "  ", "  <versionCOD>9999</versionCOD>", " ", "  ",
                  "  <contextFacturation>B</contextFacturation>", "  "}),
            Updated(Crlf({"<x/>", "  <versionCOD>0302</versionCOD>",
                          "  <versionCOD>9999</versionCOD>", " <versionCOD>0302</versionCOD>",
                          "  <contextFacturation>A</contextFacturation>",
                          "  <contextFacturation>B</contextFacturation>",
                          "  <contextFacturation>A</contextFacturation>"})));
}

TEST_F(ConfigTest, ContextValueRunsToTheFirstClosingTagAcrossLines) {
  EXPECT_EQ(Crlf({"<x/>", "  ", "  <contextFacturation>B</contextFacturation>"}),
            Updated(Crlf({"<x/>", "  <contextFacturation>A", "A2</contextFacturation>",
                          "  <contextFacturation>B</contextFacturation>"})));
  // A closing tag before the opening one gives an empty value: only an empty element goes.
  EXPECT_EQ(Crlf({"<x/></contextFacturation>", "<contextFacturation>A</contextFacturation>", ""}),
            Updated(Crlf({"<x/></contextFacturation>", "<contextFacturation>A</contextFacturation>",
                          "<contextFacturation></contextFacturation>"})));
}

TEST_F(ConfigTest, ModuleVersionIsSetWhereverItsOldValueStandsAndNeverAdded) {
  EXPECT_EQ(Crlf({"<x/>", "<ssvModuleVersion>" + std::string(kNewVersion) + "</ssvModuleVersion>",
                  "<ssvModuleVersion>other</ssvModuleVersion>"}),
            Updated(Crlf({"<x/>", "<ssvModuleVersion></ssvModuleVersion>",  // empty value
                          "<ssvModuleVersion>other</ssvModuleVersion>"})));
  EXPECT_EQ(Crlf({"<x/>", "<ssvModuleVersion>" + std::string(kNewVersion) + "</ssvModuleVersion>",
                  "<ssvModuleVersion>" + std::string(kNewVersion) + "</ssvModuleVersion>"}),
            Updated(Crlf({"<x/>", "<ssvModuleVersion>old</ssvModuleVersion>",
                          "<ssvModuleVersion>old</ssvModuleVersion>"})));
  EXPECT_EQ(Crlf({"<x/>", "<autre>1</autre>"}), Updated(Crlf({"<x/>", "<autre>1</autre>"})));
}

TEST_F(ConfigTest, StsBlockFollowsEachAnchorUnlessTheSettingExistsAnywhere) {
  const std::string anchor = "</ssvDesactivationControleSpecialitePS>";
  const std::string block = "<!-- Deactivation STS global -->\r\n"
                            "<ssvDesactivationSTS>Non</ssvDesactivationSTS>\r\n";
  // Twice: after each; not at a line end: the rest of the line follows the block.
  EXPECT_EQ("<x/>\r\n  <a>Non" + anchor + "\r\n" + block + "\r\n<b>" + anchor + "\r\n" + block +
                " tail\r\n",
            Updated("<x/>\r\n  <a>Non" + anchor + "\r\n<b>" + anchor + " tail\r\n"));
  // Present inside a comment: nothing inserted.
  std::string commented =
      "<x/>\r\n<!-- <ssvDesactivationSTS>Oui</ssvDesactivationSTS> -->\r\n<a>" + anchor + "\r\n";
  EXPECT_EQ(commented, Updated(commented));
  // No anchor: nothing inserted.
  EXPECT_EQ("<x/>\r\n<a>Non</a>\r\n", Updated("<x/>\n<a>Non</a>\n"));
}

TEST_F(ConfigTest, ALongTextIsEditedAsAWholeWhereverItsTagsStand) {
  // Longer than a piece of the read, with elements to remove all through it. The values stand at
  // its head or only past the first pieces; the STS setting, when there is one, at its very end,
  // long after the anchor that the block would follow. One line is longer than a piece of the
  // write. The last line ends as text mode reads it, or otherwise, which makes the update leave
  // the text as stored and edit it whole.
  const std::string anchor = "<a>Non</ssvDesactivationControleSpecialitePS>\r\n";
  const std::string longLine = "<!--" + std::string(1200000, 'c') + "-->\r\n";
  const std::string values = "<ssvModuleVersion>old</ssvModuleVersion>\r\n"
                             "<contextFacturation>C</contextFacturation>\r\n";
  const std::string edited =
      "<ssvModuleVersion>" + std::string(kNewVersion) + "</ssvModuleVersion>\r\n\r\n";
  const std::string setting = "<ssvDesactivationSTS>Oui</ssvDesactivationSTS>\r\n";
  const struct {
    const char *given, *written;
  } lastLines[] = {{"\r\n", "\r\n"}, {"\n", "\r\n"}, {"", "\r\n"}, {"\r", "\r\r\n"}};
  for (const bool withSetting : {false, true}) {
    for (const bool valuesAtHead : {false, true}) {
      const auto& last = lastLines[2 * withSetting + valuesAtHead];
      std::string config = anchor, expected = anchor;
      if (!withSetting) {
        expected += "<!-- Deactivation STS global -->\r\n" + setting.substr(0, 21) + "Non" +
                    setting.substr(24) + "\r\n";
      }
      if (valuesAtHead) config += values, expected += edited;
      config += longLine, expected += longLine;
      for (int i = 0; config.size() < (3u << 20); ++i) {
        const std::string id = "  <m id=\"" + std::to_string(i) + "\">";
        config += id + "<active>0</active><versionCOD>0302</versionCOD></m>\r\n";
        expected += id + "<active>1</active></m>\r\n";
      }
      if (!valuesAtHead) config += values, expected += edited;
      if (withSetting) config += setting, expected += setting;
      config += std::string("<z/>") + last.given, expected += std::string("<z/>") + last.written;
      EXPECT_TRUE(SameBytes(expected, Updated(config)))
          << "setting " << withSetting << ", values at the head " << valuesAtHead;
    }
  }
}

TEST_F(ConfigTest, EveryExactInactiveFlagIsSwitchedAndOnlyThose) {
  EXPECT_EQ(Crlf({"<x/>", "<a><active>1</active></a><b><active>1</active></b>",
                  "<!-- <active>1</active> -->", "<active> 0</active>", "<active>0 </active>",
                  "<active>00</active>", "<Active>0</Active>"}),
            Updated(Crlf({"<x/>", "<a><active>0</active></a><b><active>0</active></b>",
                          "<!-- <active>0</active> -->", "<active> 0</active>",
                          "<active>0 </active>", "<active>00</active>", "<Active>0</Active>"})));
}

TEST_F(ConfigTest, TagsAtTheVeryFirstCharacterAreFound) {
  EXPECT_EQ("<ssvModuleVersion>" + std::string(kNewVersion) + "</ssvModuleVersion>\r\n",
            Updated("<ssvModuleVersion>old</ssvModuleVersion>\n"));
  EXPECT_EQ("\r\n<a/>\r\n", Updated("<versionCOD>0302</versionCOD>\n<a/>\n"));
  EXPECT_EQ("\r\n<a/>\r\n", Updated("<contextFacturation>A</contextFacturation>\n<a/>\n"));
  // The template's tag at its first character too.
  EXPECT_EQ("<x/><ssvModuleVersion>" + std::string(kNewVersion) + "</ssvModuleVersion>\r\n",
            Updated("<x/><ssvModuleVersion>old</ssvModuleVersion>\n",
                    "<ssvModuleVersion>" + std::string(kNewVersion) + "</ssvModuleVersion>"));
}

// ---------------------------------------------------------------------------------------------
// The module version from the template: whole or not at all.

TEST_F(ConfigTest, AMissingOrUnfitTemplateVersionLeavesTheModuleVersion) {
  const std::string old = Crlf(UpdatedWithOldVersion());
  struct Case {
    const char* what;
    std::string tpl;
  } cases[] = {
      {"no tag", "<configuration>\r\n</configuration>\r\n"},
      {"empty template", ""},
      {"20 characters", Template("K220.2014.4.2.0001-1")},
      {"22 characters", Template("K220.2014.4.2.0001-012")},
      {"a tag inside", Template("K220.2014.4.2.0001<b>")},
      {"text ends sooner", "<ssvModuleVersion>K220.2014.4.2.0001-01"},
      {"closing tag cut", "<ssvModuleVersion>K220.2014.4.2.0001-01</ssvModuleVers"},
      {"other closing tag", "<ssvModuleVersion>K220.2014.4.2.0001-01</ssvModuleVersioN>"},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(SameBytes(old, Updated(Crlf(kConfig), c.tpl))) << c.what;
  }
  testutil::RemoveTree(Tpl());
  WriteBytes(Xml(), Crlf(kConfig));
  EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  EXPECT_TRUE(SameBytes(old, ReadBytes(Xml()))) << "missing template";
  // A template held open by another opener cannot be read either.
  WriteBytes(Tpl(), Template());
  WriteBytes(Xml(), Crlf(kConfig));
  {
    os::File holder;
    ASSERT_TRUE(testutil::Hold(Tpl(), os::FileMode::kRead, &holder));
    EXPECT_EQ(1, UpdateConfigurationFile(Tpl(), Xml()));
  }
  EXPECT_TRUE(SameBytes(old, ReadBytes(Xml()))) << "held template";
}

// ---------------------------------------------------------------------------------------------
// The configuration and its copy.

TEST_F(ConfigTest, BothFilesAreUpdatedFromTheInstallationPath) {
  WriteBytes(Tpl(), Template());
  WriteBytes(Xml(), Crlf(kConfig));
  WriteBytes(Copy(), "<x/>\n<versionCOD>1111</versionCOD>\n<active>0</active>");
  EXPECT_EQ(1, UpdateConfiguration(dir_));  // dir_ ends with a backslash
  EXPECT_TRUE(SameBytes(Crlf(kUpdated), ReadBytes(Xml())));
  EXPECT_EQ("<x/>\r\n\r\n<active>1</active>\r\n", ReadBytes(Copy()));
}

TEST_F(ConfigTest, MainFileMissingLeavesTheCopyUntouched) {
  WriteBytes(Tpl(), Template());
  WriteBytes(Copy(), Crlf(kConfig));
  EXPECT_EQ(0, UpdateConfiguration(dir_));
  EXPECT_EQ(Crlf(kConfig), ReadBytes(Copy()));
  EXPECT_FALSE(testutil::Exists(Xml()));
}

TEST_F(ConfigTest, CopyMissingIsSkipped) {
  WriteBytes(Tpl(), Template());
  WriteBytes(Xml(), Crlf(kConfig));
  EXPECT_EQ(1, UpdateConfiguration(dir_));
  EXPECT_TRUE(SameBytes(Crlf(kUpdated), ReadBytes(Xml())));
  EXPECT_FALSE(testutil::Exists(Copy()));
  EXPECT_EQ(std::vector<std::string>{}, Listing(dir_ + "Temp\\ssvConfig"));
}

TEST_F(ConfigTest, EachFileTellsWhatBecameOfIt) {
  WriteBytes(Tpl(), Template());
  WriteBytes(Xml(), Crlf(kConfig));
  ConfigReport report;
  EXPECT_EQ(1, UpdateConfiguration(dir_, &report));
  EXPECT_EQ(ConfigOutcome::kUpdated, report.main.outcome);
  EXPECT_EQ(ConfigOutcome::kMissing, report.copy.outcome);
  WriteBytes(Copy(), "");  // an empty text is left as it is
  EXPECT_EQ(1, UpdateConfiguration(dir_, &report));
  EXPECT_EQ(ConfigOutcome::kEmpty, report.copy.outcome);
  // An empty installation path names no folder: nothing is read, no network path is opened.
  EXPECT_EQ(0, UpdateConfiguration("\\", &report));
  EXPECT_EQ(ConfigOutcome::kMissing, report.main.outcome);
  EXPECT_EQ(ConfigOutcome::kNotReached, report.copy.outcome);
}

TEST_F(ConfigTest, AFileHeldOpenByAnotherProgramKeepsItsBytes) {
  // The main file held: neither file is updated; the copy held: the main file is all the same.
  const struct {
    bool mainHeld;
    int result;
    ConfigOutcome main, copy;
  } cases[] = {
      {true, 0, ConfigOutcome::kInUse, ConfigOutcome::kNotReached},
      {false, 1, ConfigOutcome::kUpdated, ConfigOutcome::kInUse},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mainHeld ? "the main file held" : "the copy held");
    WriteBytes(Tpl(), Template());
    WriteBytes(Xml(), Crlf(kConfig));
    WriteBytes(Copy(), Crlf(kConfig));
    ConfigReport report;
    {
      os::File holder;
      ASSERT_TRUE(testutil::Hold(c.mainHeld ? Xml() : Copy(), os::FileMode::kRead, &holder));
      EXPECT_EQ(c.result, UpdateConfiguration(dir_, &report));
    }
    EXPECT_TRUE(SameBytes(Crlf(c.mainHeld ? kConfig : kUpdated), ReadBytes(Xml())));
    EXPECT_EQ(Crlf(kConfig), ReadBytes(Copy()));
    EXPECT_EQ(c.main, report.main.outcome);
    EXPECT_EQ(c.copy, report.copy.outcome);
  }
}
