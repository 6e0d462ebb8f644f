// CFileVersionInfo and the version seam, on both builds: the seven language rules, the
// fixed block, the twelve strings in cp1252, the mended faults, files without version data.
#include "version/file_version_info.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "os/locale.h"
#include "verinfo/version_library.h"
#include "test_util.h"
#include "version_test_util.h"

using versiontest::Install;
using versiontest::UserLanguage;

namespace {

std::vector<unsigned char> Table(std::initializer_list<uint32_t> entries) {
  std::vector<unsigned char> bytes;
  for (uint32_t e : entries) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>(e >> (8 * i)));
  }
  return bytes;
}

uint32_t Entry(uint16_t lang, uint16_t codePage) { return (uint32_t(codePage) << 16) | lang; }

uint32_t Choose(uint16_t user, const std::vector<unsigned char>& table) {
  uint32_t entry = 0xDEADBEEF;
  EXPECT_EQ(1, CFileVersionInfo::ChooseLanguageEntry(user, table.data(),
                                                     static_cast<uint32_t>(table.size()), &entry));
  return entry;
}

void ExpectEmpty(const CFileVersionInfo& info) {
  const unsigned char* fixed = reinterpret_cast<const unsigned char*>(&info.m_FileInfo);
  for (size_t i = 0; i < sizeof(info.m_FileInfo); ++i) EXPECT_EQ(0, fixed[i]) << "byte " << i;
  for (int i = 0; i < 12; ++i)
    EXPECT_EQ("", info.StringField(i)) << CFileVersionInfo::kStringKeys[i];
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The object.

TEST(FileVersionInfo, ClearAndAFailedLoadLeaveEverythingEmpty) {
  testutil::ScratchMachine machine;
  std::string path = Install(machine, "tariflib.dll");
  CFileVersionInfo info;
  ExpectEmpty(info);
  ASSERT_EQ(1, info.Load(path));
  EXPECT_NE(0u, info.m_FileInfo.dwFileVersionMS);
  info.Clear();
  ExpectEmpty(info);
  ASSERT_EQ(1, info.Load(path));
  EXPECT_EQ(0, info.Load(machine.Path("missing.dll")));
  ExpectEmpty(info);
}

// ---------------------------------------------------------------------------------------------
// FindLanguageEntry and the seven rules, directly (the only way on Windows, whose user language
// under Wine is 0x0409).

TEST(FileVersionInfo, FindLanguageEntryMatchesAll16BitsThenTheLow8) {
  auto table = Table({Entry(0x0409, 1252), Entry(0x080C, 1200), Entry(0x040C, 1252)});
  uint32_t n = static_cast<uint32_t>(table.size());
  uint32_t entry = 0;
  EXPECT_EQ(1, CFileVersionInfo::FindLanguageEntry(0x040C, table.data(), n, 0, &entry));
  EXPECT_EQ(Entry(0x040C, 1252), entry);  // the exact pass comes first, whatever the order
  EXPECT_EQ(1, CFileVersionInfo::FindLanguageEntry(0x040C, table.data(), n, 1, &entry));
  EXPECT_EQ(Entry(0x040C, 1252), entry);
  EXPECT_EQ(0, CFileVersionInfo::FindLanguageEntry(0x100C, table.data(), n, 0, &entry));
  EXPECT_EQ(1, CFileVersionInfo::FindLanguageEntry(0x100C, table.data(), n, 1, &entry));
  EXPECT_EQ(Entry(0x080C, 1200), entry);  // the first entry with low 8 bits 0x0C
  // 8 bits, not the 10-bit primary language: 0x020C is not French but has the low bits 0x0C.
  EXPECT_EQ(1, CFileVersionInfo::FindLanguageEntry(0x020C, table.data(), n, 1, &entry));
  EXPECT_EQ(Entry(0x080C, 1200), entry);
  EXPECT_EQ(0, CFileVersionInfo::FindLanguageEntry(0x0407, table.data(), n, 1, &entry));
}

TEST(FileVersionInfo, FindLanguageEntryReadsWholeEntriesOnly) {
  // 6 bytes: one entry and half of another, whose language 0x0409 must not be found.
  auto table = Table({Entry(0x040C, 1252), Entry(0x0409, 1252)});
  uint32_t entry = 0;
  EXPECT_EQ(0, CFileVersionInfo::FindLanguageEntry(0x0409, table.data(), 6, 1, &entry));
  EXPECT_EQ(1, CFileVersionInfo::FindLanguageEntry(0x040C, table.data(), 6, 0, &entry));
  for (uint32_t length = 0; length < 4; ++length) {
    EXPECT_EQ(0, CFileVersionInfo::FindLanguageEntry(0x040C, table.data(), length, 1, &entry));
    EXPECT_EQ(0, CFileVersionInfo::ChooseLanguageEntry(0x040C, table.data(), length, &entry));
  }
  EXPECT_EQ(0, CFileVersionInfo::FindLanguageEntry(0x040C, nullptr, 8, 1, &entry));
  EXPECT_EQ(0, CFileVersionInfo::ChooseLanguageEntry(0x040C, nullptr, 8, &entry));
}

TEST(FileVersionInfo, TheSevenRulesInTheirOrder) {
  // 1: exact, even when a low-8-bit match comes earlier.
  EXPECT_EQ(Entry(0x040C, 1252), Choose(0x040C, Table({Entry(0x0409, 1252), Entry(0x040C, 1252)})));
  EXPECT_EQ(Entry(0x040C, 1252), Choose(0x040C, Table({Entry(0x080C, 1252), Entry(0x040C, 1252)})));
  // 2: low 8 bits of the user's language.
  EXPECT_EQ(Entry(0x040C, 1252), Choose(0x080C, Table({Entry(0x040C, 1252)})));
  EXPECT_EQ(Entry(0x040C, 1252), Choose(0x080C, Table({Entry(0x0000, 1200), Entry(0x040C, 1252)})));
  // 3: language 0x0000.
  EXPECT_EQ(Entry(0x0000, 1200), Choose(0x0407, Table({Entry(0x0409, 1200), Entry(0x0000, 1200)})));
  EXPECT_EQ(Entry(0x0000, 1200), Choose(0x0407, Table({Entry(0x0400, 1200), Entry(0x0000, 1200)})));
  // 4: low 8 bits 0x00.
  EXPECT_EQ(Entry(0x0400, 1200), Choose(0x0407, Table({Entry(0x0409, 1200), Entry(0x0400, 1200)})));
  // 5: language 0x0009, before an earlier entry with low 8 bits 0x09.
  EXPECT_EQ(Entry(0x0009, 1252),
            Choose(0x0407, Table({Entry(0x040C, 1252), Entry(0x0809, 1252), Entry(0x0009, 1252)})));
  // 6: low 8 bits 0x09.
  EXPECT_EQ(Entry(0x0809, 1252), Choose(0x0407, Table({Entry(0x040C, 1252), Entry(0x0809, 1252)})));
  // Within a rule, the earlier entry wins.
  EXPECT_EQ(Entry(0x040C, 1200), Choose(0x040C, Table({Entry(0x040C, 1200), Entry(0x040C, 1252)})));
  EXPECT_EQ(Entry(0x0C09, 1252),
            Choose(0x0407, Table({Entry(0x040C, 1252), Entry(0x0C09, 1252), Entry(0x0809, 1252)})));
  // 7: the first entry.
  EXPECT_EQ(Entry(0x040C, 1252), Choose(0x0407, Table({Entry(0x040C, 1252)})));
  EXPECT_EQ(Entry(0x040C, 1252), Choose(0x0407, Table({Entry(0x040C, 1252), Entry(0x0410, 1252)})));
}

// ---------------------------------------------------------------------------------------------
// Load over fixtures made by windres (tests/version/fixtures/*.rc).

TEST(FileVersionInfo, LoadReadsTheFixedBlockAndTheTwelveStrings) {
  testutil::ScratchMachine machine;
  CFileVersionInfo info;
  ASSERT_EQ(1, info.Load(Install(machine, "tariflib.dll")));
  const FixedFileInfo& f = info.m_FileInfo;
  EXPECT_EQ(0xFEEF04BDu, f.dwSignature);
  EXPECT_EQ(0x00010000u, f.dwStrucVersion);
  EXPECT_EQ(0x07DE0002u, f.dwFileVersionMS);
  EXPECT_EQ(2014u, f.dwFileVersionMS >> 16);
  EXPECT_EQ(2u, f.dwFileVersionMS & 0xFFFF);
  EXPECT_EQ(0x00000011u, f.dwFileVersionLS);
  EXPECT_EQ(0x07DE0004u, f.dwProductVersionMS);
  EXPECT_EQ(0x00020000u, f.dwProductVersionLS);
  EXPECT_EQ(0x3Fu, f.dwFileFlagsMask);
  EXPECT_EQ(0x20u, f.dwFileFlags);
  EXPECT_EQ(0x40004u, f.dwFileOS);
  EXPECT_EQ(2u, f.dwFileType);
  EXPECT_EQ(0u, f.dwFileSubtype);
  EXPECT_EQ(0u, f.dwFileDateMS);
  EXPECT_EQ(0u, f.dwFileDateLS);
  EXPECT_EQ("ORVANE S.A.", info.m_strCompanyName);
  EXPECT_EQ("Biblioth\xE8que de tarification", info.m_strFileDescription);
  EXPECT_EQ("2014.2.0.17", info.m_strFileVersion);
  EXPECT_EQ("TarifLib", info.m_strInternalName);
  EXPECT_EQ("\xA9 ORVANE 2014 \x96 tous droits r\xE9serv\xE9s", info.m_strLegalCopyright);
  EXPECT_EQ("TarifLib.dll", info.m_strOriginalFileName);  // spelled "OriginalFilename" there
  EXPECT_EQ("ORVANE K220 \x80 \x9Cuvre", info.m_strProductName);
  EXPECT_EQ("2014.4.2", info.m_strProductVersion);
  EXPECT_EQ("", info.m_strComments);
  EXPECT_EQ("ORVANE\x99", info.m_strLegalTrademarks);
  EXPECT_EQ("build \"priv\xE9\" \\ 7", info.m_strPrivateBuild);
  EXPECT_EQ("sp\xE9"
            "cial",
            info.m_strSpecialBuild);
}

struct LanguageCase {
  const char* fixture;
  const char* locale;  // POSIX: LC_ALL for the user's language
  uint16_t langId;     // the language that locale gives
  std::initializer_list<uint32_t> table;
  const char* block;  // what the rules choose for langId
};

TEST(FileVersionInfo, LoadChoosesTheStringTableByTheSevenRules) {
  const LanguageCase cases[] = {
      {"lang_exact.dll",
       "fr_FR.UTF-8",
       0x040C,
       {Entry(0x0409, 1252), Entry(0x040C, 1252)},
       "040C04E4"},
      {"lang_low8.dll", "fr_BE.UTF-8", 0x080C, {Entry(0x040C, 1252)}, "040C04E4"},
      {"lang_neutral.dll",
       "de_DE.UTF-8",
       0x0407,
       {Entry(0x0409, 1200), Entry(0x0000, 1200)},
       "000004B0"},
      {"lang_low8_00.dll", "de_DE", 0x0407, {Entry(0x0409, 1200), Entry(0x0400, 1200)}, "040004B0"},
      {"lang_en.dll",
       "de_DE",
       0x0407,
       {Entry(0x040C, 1252), Entry(0x0809, 1252), Entry(0x0009, 1252)},
       "000904E4"},
      {"lang_low8_09.dll", "de_DE", 0x0407, {Entry(0x040C, 1252), Entry(0x0809, 1252)}, "080904E4"},
      {"lang_first.dll", "de_DE", 0x0407, {Entry(0x040C, 1252), Entry(0x0410, 1252)}, "040C04E4"},
      {"lang_earlier.dll",
       "de_DE",
       0x0407,
       {Entry(0x040C, 1252), Entry(0x0C09, 1252), Entry(0x0809, 1252)},
       "0C0904E4"},
      {"lang_earlier_exact.dll",
       "fr_FR",
       0x040C,
       {Entry(0x040C, 1200), Entry(0x040C, 1252)},
       "040C04B0"},
      {"lang_exact.dll", "en_US", 0x0409, {Entry(0x0409, 1252), Entry(0x040C, 1252)}, "040904E4"},
  };
  testutil::ScratchMachine machine;
  for (const LanguageCase& c : cases) {
    SCOPED_TRACE(std::string(c.fixture) + " " + c.locale);
    std::string path = Install(machine, c.fixture);
    UserLanguage language(c.locale);
    std::string expected = c.block;
#ifdef _WIN32
    // The user's language is Wine's (0x0409): expect what the rules give for it.
    auto table = Table(c.table);
    char name[16];
    uint32_t entry = Choose(os::UserDefaultLangId(), table);
    std::snprintf(name, sizeof(name), "%04X%04X", entry & 0xFFFF, entry >> 16);
    expected = name;
#else
    ASSERT_EQ(c.langId, os::UserDefaultLangId());
#endif
    CFileVersionInfo info;
    ASSERT_EQ(1, info.Load(path));
    EXPECT_EQ("block " + expected, info.m_strCompanyName);
    EXPECT_NE("", info.m_strFileDescription);
  }
}

TEST(FileVersionInfo, TranslationTablesWithoutAWholeEntryLeaveTheStringsEmpty) {
  testutil::ScratchMachine machine;
  // Chosen behaviour: result 1 and the fixed block, no strings.
  for (const char* name : {"synth_trans_none.dll", "synth_trans_empty.dll", "synth_trans_3.dll"}) {
    SCOPED_TRACE(name);
    CFileVersionInfo info;
    ASSERT_EQ(1, info.Load(Install(machine, name)));
    EXPECT_EQ(0xFEEF04BDu, info.m_FileInfo.dwSignature);
    EXPECT_EQ(2014u, info.m_FileInfo.dwFileVersionMS >> 16);
    for (int i = 0; i < 12; ++i) EXPECT_EQ("", info.StringField(i)) << i;
  }
  CFileVersionInfo info;  // 6 bytes: one entry, 0x0409/1200
  ASSERT_EQ(1, info.Load(Install(machine, "synth_trans_6.dll")));
  EXPECT_EQ("ORVANE S.A.", info.m_strCompanyName);
}

TEST(FileVersionInfo, ARootBlockOfAnotherSizeLeavesTheFixedBlockZero) {
  testutil::ScratchMachine machine;
  for (const char* name : {"synth_root48.dll", "synth_root_empty.dll"}) {
    SCOPED_TRACE(name);
    CFileVersionInfo info;
    ASSERT_EQ(1, info.Load(Install(machine, name)));
    FixedFileInfo zero;
    std::memset(&zero, 0, sizeof(zero));
    EXPECT_EQ(0, std::memcmp(&zero, &info.m_FileInfo, sizeof(zero)));
    EXPECT_EQ("ORVANE S.A.", info.m_strCompanyName);
    EXPECT_EQ("2014.2.0.17", info.m_strFileVersion);
  }
}

TEST(FileVersionInfo, PE32AndPE32PlusReadAlike) {
  testutil::ScratchMachine machine;
  CFileVersionInfo a;
  CFileVersionInfo b;
  ASSERT_EQ(1, a.Load(Install(machine, "synth_pe32.dll")));
  ASSERT_EQ(1, b.Load(Install(machine, "synth_pe32plus.dll")));
  EXPECT_EQ(0, std::memcmp(&a.m_FileInfo, &b.m_FileInfo, sizeof(a.m_FileInfo)));
  for (int i = 0; i < 12; ++i) EXPECT_EQ(a.StringField(i), b.StringField(i)) << i;
  EXPECT_EQ(0x07DE0002u, b.m_FileInfo.dwFileVersionMS);
  EXPECT_EQ(1u, b.m_FileInfo.dwFileDateMS);
  EXPECT_EQ("Biblioth\xE8que de tarification", b.m_strFileDescription);
  EXPECT_EQ("\xA9 ORVANE 2014 \x96 \x80", b.m_strLegalCopyright);
  EXPECT_EQ("\x8Cuvre \xE9t\xE9", b.m_strComments);
  EXPECT_EQ("sb", b.m_strSpecialBuild);
}

// Strings as each fixture's resource holds them; every key not listed is empty.
TEST(FileVersionInfo, EachStringIsReadAsItsResourceHoldsIt) {
  struct Case {
    const char* fixture;
    uint32_t fileVersionMS;
    std::vector<std::pair<std::string, std::string>> strings;  // by key
  } cases[] = {
      // Missing keys stay empty.
      {"version2015.dll",
       0x07DF0001u,
       {{"CompanyName", "ORVANE S.A."}, {"FileVersion", "2015.1"}, {"ProductName", "ORVANE K220"}}},
      // Keys match without regard to case.
      {"synth_key_case.dll",
       0x07DE0008u,
       {{"CompanyName", "lower"}, {"OriginalFileName", "mixed"}, {"ProductName", "upper"}}},
      // Texts come back in cp1252: U+0100 best-fits to 'A', U+0080 and U+4E2D have no cp1252
      // form, U+0081 stays 0x81; U+2122 and U+0152 are 0x99 and 0x8C, and a surrogate pair gives
      // one '?' per unit.
      {"synth_text.dll",
       0,
       {{"CompanyName", "AAB?C\x81"
                        "D?E\xFF"},
        {"FileDescription", "x\x99y\x8Cz??"
                            "!"}}},
      // A string ends within the length the query reports: no terminating zero in the resource,
      // a length that counts bytes, a length of 0.
      {"synth_text_lengths.dll",
       0,
       {{"ProductName", "NoZero"}, {"ProductVersion", "2014.9"}, {"SpecialBuild", "after"}}},
  };
  testutil::ScratchMachine machine;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    CFileVersionInfo info;
    ASSERT_EQ(1, info.Load(Install(machine, c.fixture)));
    if (c.fileVersionMS != 0) {
      EXPECT_EQ(c.fileVersionMS, info.m_FileInfo.dwFileVersionMS);
    }
    for (int i = 0; i < 12; ++i) {
      const char* key = CFileVersionInfo::kStringKeys[i];
      std::string expected;
      for (const auto& string : c.strings) {
        if (string.first == key) expected = string.second;
      }
      EXPECT_EQ(expected, info.StringField(i)) << key;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// No version data.

TEST(FileVersionInfo, FilesWithoutVersionDataLoadNothing) {
  testutil::ScratchMachine machine;
  CFileVersionInfo info;
  ASSERT_EQ(1, info.Load(Install(machine, "tariflib.dll")));
  for (const char* name :
       {"no_version.dll", "synth_no_resources.dll", "synth_rcdata_only.dll",
        "synth_version_name2.dll", "not_pe.txt", "synth_mz_only.exe", "empty.dll"}) {
    SCOPED_TRACE(name);
    std::string path = Install(machine, name);
    uint32_t handle = 7;
    EXPECT_EQ(0u, verinfo::VersionInfoSize(path, &handle));
    EXPECT_EQ(7u, handle);  // untouched
    EXPECT_EQ(0, info.Load(path));
    ExpectEmpty(info);  // also after a successful load
    ASSERT_EQ(1, info.Load(machine.Path("tariflib.dll")));
  }
  EXPECT_EQ(0, info.Load(machine.Path("no such file.dll")));
  ExpectEmpty(info);
  EXPECT_EQ(0, info.Load(machine.Path("no such folder\\TarifLib.dll")));
  EXPECT_EQ(0, info.Load(""));
  EXPECT_EQ(0, info.Load(machine.Path("")));  // a directory
  ExpectEmpty(info);
}

// ---------------------------------------------------------------------------------------------
// Damaged files: read as far as their version data lies inside them, never from beyond, and
// unreadable when the data they declare does not all lie inside them.

TEST(FileVersionInfo, CorruptedImagesGiveSizeZeroOrLoadZero) {
  testutil::ScratchMachine machine;
  for (const auto& e : versiontest::kCorruptedImages) {
    SCOPED_TRACE(e.first);
    std::string path = Install(machine, std::string("hostile/") + e.first, e.first);
    CFileVersionInfo info;
    EXPECT_EQ(e.second == 2 ? 1 : 0, info.Load(path));
    uint32_t handle = 0;
    EXPECT_EQ(e.second == 0, verinfo::VersionInfoSize(path, &handle) == 0);
  }
}

TEST(FileVersionInfo, VersionDataMustLieInsideTheFileItsSectionNeedNot) {
  testutil::ScratchMachine machine;
  CFileVersionInfo info;
  // The file ends right after the version data, within its section's raw data.
  ASSERT_EQ(1, info.Load(Install(machine, "synth_section_cut.dll")));
  EXPECT_EQ(0x07DE0002u, info.m_FileInfo.dwFileVersionMS);
  EXPECT_EQ("sb", info.m_strSpecialBuild);
  // The version data, all that the resource declares, runs past the end of the file: by a few
  // KiB, or by up to 16 MiB beyond a first 64 KiB that the file holds.
  for (const char* name : {"synth_data_past_file_end.dll", "declared_1mib.dll",
                           "declared_16mib.dll", "second_language_1mib.dll"}) {
    SCOPED_TRACE(name);
    std::string path = Install(machine, std::string("oversized/") + name, name);
    uint32_t handle = 7;
    EXPECT_EQ(0u, verinfo::VersionInfoSize(path, &handle));
    EXPECT_EQ(0, info.Load(path));
    ExpectEmpty(info);
  }
}

// ---------------------------------------------------------------------------------------------
// The seam itself.

TEST(VersionSeam, SizeReadAndQueriesAsTheVersionLibraryGivesThem) {
  testutil::ScratchMachine machine;
  std::string path = Install(machine, "tariflib.dll");
  uint32_t handle = 7;
  uint32_t size = verinfo::VersionInfoSize(path, &handle);
  EXPECT_EQ(0u, handle);
  ASSERT_GT(size, 100u);
  EXPECT_EQ(0u, size % 2);  // twice the resource plus 4
  std::vector<unsigned char> buffer(size);
  ASSERT_TRUE(verinfo::ReadVersionInfo(path, handle, size, buffer.data()));
  const uint16_t rootLength = static_cast<uint16_t>(buffer[0] | (buffer[1] << 8));
  EXPECT_LE(2u * rootLength + 4, size);
  EXPECT_EQ(0, std::memcmp(buffer.data() + rootLength, "FE2X", 4));

  const void* value = nullptr;
  uint32_t length = 0;
  ASSERT_TRUE(verinfo::QueryVersionValue(buffer.data(), "\\", &value, &length));
  EXPECT_EQ(52u, length);
  uint32_t signature = 0;
  std::memcpy(&signature, value, 4);
  EXPECT_EQ(0xFEEF04BDu, signature);
  ASSERT_TRUE(verinfo::QueryVersionValue(buffer.data(), "", &value, &length));  // the root too
  EXPECT_EQ(52u, length);

  ASSERT_TRUE(
      verinfo::QueryVersionValue(buffer.data(), "\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(4u, length);
  uint32_t entry = 0;
  std::memcpy(&entry, value, 4);
  EXPECT_EQ(Entry(0x040C, 1252), entry);

  // A string: cp1252, its length counting the zero that the resource holds.
  ASSERT_TRUE(verinfo::QueryVersionValue(
      buffer.data(), "\\StringFileInfo\\040C04E4\\FileDescription", &value, &length));
  EXPECT_EQ(std::string("Biblioth\xE8que de tarification", 29),
            std::string(static_cast<const char*>(value), length));
  ASSERT_TRUE(verinfo::QueryVersionValue(
      buffer.data(), "\\stringfileinfo\\040c04e4\\ORIGINALFILENAME", &value, &length));
  EXPECT_EQ(std::string("TarifLib.dll", 13), std::string(static_cast<const char*>(value), length));
  ASSERT_TRUE(verinfo::QueryVersionValue(buffer.data(),
                                         "\\\\StringFileInfo\\\\040C04E4\\Comments\\", &value,
                                         &length));  // empty components are skipped
  EXPECT_EQ(0, std::memcmp(value, "", 1));

  EXPECT_FALSE(verinfo::QueryVersionValue(buffer.data(), "\\StringFileInfo\\040904E4\\CompanyName",
                                          &value, &length));
  EXPECT_FALSE(verinfo::QueryVersionValue(buffer.data(), "\\StringFileInfo\\040C04E4\\Company",
                                          &value, &length));
  EXPECT_FALSE(verinfo::QueryVersionValue(buffer.data(), "\\StringFileInfo\\040C04E4\\CompanyNameX",
                                          &value, &length));
  EXPECT_FALSE(verinfo::QueryVersionValue(buffer.data(), "\\Nothing", &value, &length));
}

TEST(VersionSeam, ABareNameIsLookedUpBesideTheProgramNotInTheCurrentDirectory) {
  testutil::ScratchMachine machine;
  namespace fs = std::filesystem;
  std::string bare = "orva_version_test_" +
                     std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".dll";
  std::string own = testutil::ProgramDirectory() + bare;
  std::string bytes = versiontest::ReadHostFile(versiontest::FixtureHostPath("version2015.dll"));
  CFileVersionInfo info;
  // Only in the current directory: not found.
  fs::path previous = fs::current_path();
  fs::current_path(testutil::Host(machine.Path("")));
  testutil::WriteBytes(machine.Path(bare), bytes);
  EXPECT_EQ(0, info.Load(bare));
  // Beside the program: found.
  {
    std::ofstream out(own, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  EXPECT_EQ(1, info.Load(bare));
  EXPECT_EQ(0x07DF0001u, info.m_FileInfo.dwFileVersionMS);
  fs::current_path(previous);
  fs::remove(own);
#ifndef _WIN32
  // Then in C:\windows\system32 of the machine root.
  testutil::MakeDirectories("C:\\windows\\system32");
  testutil::WriteBytes("C:\\windows\\system32\\" + bare, bytes);
  EXPECT_EQ(1, info.Load(bare));
  EXPECT_EQ(0x07DF0001u, info.m_FileInfo.dwFileVersionMS);
#endif
}
