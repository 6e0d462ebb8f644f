// Our PE version reader, as both builds read versions with it: the resource's language,
// hostile images (truncated, corrupted: no crash, size 0 or load 0), failing file operations,
// shared opens, and reading only what is needed.
#include "pe/pe_version.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "os/file.h"
#include "verinfo/version_library.h"
#include "test_util.h"
#include "fault/fault.h"
#include "version/file_version_info.h"
#include "version_test_util.h"

using versiontest::FixtureHostPath;
using versiontest::Install;
using versiontest::ReadHostFile;
using versiontest::UserLanguage;

namespace {

// A memory source that counts what is read, and marks which bytes.
class CountingSource : public pe::MemorySource {
 public:
  explicit CountingSource(const std::string& bytes)
      : MemorySource(bytes.data(), bytes.size()), read(bytes.size()) {}
  bool ReadAt(uint64_t offset, void* out, size_t size) override {
    bytesRead += size;
    ++reads;
    for (uint64_t at = offset; at < offset + size && at < read.size(); ++at) read[at] = true;
    return MemorySource::ReadAt(offset, out, size);
  }
  size_t bytesRead = 0;
  int reads = 0;
  std::vector<bool> read;
};

// Everything Load does over |source|, directly and through the version library's calls: the
// reader must survive any of them. Returns how far it got (0: no resource found, 1: no whole
// block, 2: the block read into |*block|).
int ReadAll(pe::ByteSource& source, std::vector<unsigned char>* block) {
  pe::VersionResource resource;
  block->clear();
  if (!pe::FindVersionResource(source, pe::LanguagePreference(), &resource)) return 0;
  CFileVersionInfo direct;
  const int result = direct.LoadForTesting(source, resource);
  uint32_t size = verinfo::VersionBufferSize(resource);
  EXPECT_LE(size, 2 * pe::kMaxVersionData + 4);
  block->assign(size, 0xCC);
  if (!verinfo::ReadVersionBlock(source, resource, size, block->data())) {
    // Nothing of a block read in part is left for the caller to take.
    EXPECT_EQ(std::vector<unsigned char>(size, 0), *block);
    EXPECT_EQ(0, result);
    return 1;
  }
  EXPECT_EQ(1, result);
  const void* value = nullptr;
  uint32_t length = 0;
  for (const char* sub :
       {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo",
        "\\StringFileInfo\\040904B0\\CompanyName", "\\StringFileInfo\\040904B0\\SpecialBuild"}) {
    if (verinfo::QueryVersionBlock(block->data(), sub, &value, &length)) {
      const unsigned char* p = static_cast<const unsigned char*>(value);
      EXPECT_GE(p, block->data());
      EXPECT_LE(p + length, block->data() + block->size());
    }
  }
  return 2;
}

int ReadAll(const std::string& bytes) {
  pe::MemorySource source(bytes.data(), bytes.size());
  std::vector<unsigned char> block;
  return ReadAll(source, &block);
}

uint32_t Rd(const std::string& bytes, size_t at, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

// |image| with |extra| zero bytes more raw data in its last section, which ends the file.
std::string WithLongerLastSection(std::string image, uint32_t extra) {
  const size_t nt = Rd(image, 0x3C, 4);
  const size_t last = nt + 24 + Rd(image, nt + 20, 2) + 40 * (Rd(image, nt + 6, 2) - 1);
  const uint32_t rawSize = Rd(image, last + 16, 4) + extra;
  for (int i = 0; i < 4; ++i) image[last + 16 + i] = static_cast<char>(rawSize >> (8 * i));
  return image + std::string(extra, '\0');
}

}  // namespace

TEST(PeVersion, TheResourceIsChosenByTheThreadsTheUsersAndTheSystemsLanguages) {
  // two_resources.dll: French (0x040C, file version x.x.x.1) and English (US) (x.x.x.2).
  const std::string bytes = ReadHostFile(FixtureHostPath("two_resources.dll"));
  struct {
    uint16_t thread, user, system;
    uint32_t fileVersionLS;
  } cases[] = {
      {0x040C, 0x0407, 0x0407, 1},  // the thread's
      {0x0407, 0x080C, 0x0407, 1},  // the user's primary language, default sublanguage
      {0x0407, 0x0407, 0x040C, 1},  // the system's
      {0x0407, 0x0407, 0x100C, 1},  // the system's primary language, default sublanguage
      {0x0407, 0x0407, 0x0407, 2},  // none of them: English (US)
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.thread << " " << c.user << " " << c.system);
    pe::MemorySource source(bytes.data(), bytes.size());
    pe::LanguagePreference languages;
    languages.thread = c.thread;
    languages.user = c.user;
    languages.system = c.system;
    pe::VersionResource resource;
    ASSERT_TRUE(pe::FindVersionResource(source, languages, &resource));
    std::vector<unsigned char> block(verinfo::VersionBufferSize(resource));
    ASSERT_TRUE(verinfo::ReadVersionBlock(source, resource, static_cast<uint32_t>(block.size()),
                                          block.data()));
    const void* fixed = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(verinfo::QueryVersionBlock(block.data(), "\\", &fixed, &length));
    ASSERT_EQ(52u, length);
    EXPECT_EQ(c.fileVersionLS, Rd(std::string(static_cast<const char*>(fixed), 52), 12, 4));
  }
}

#ifndef _WIN32
// The POSIX build takes the languages from the environment; the Windows one from the system.
TEST(PeVersion, TheResourceOfTheUsersLanguageIsRead) {
  testutil::ScratchMachine machine;
  std::string path = Install(machine, "two_resources.dll");
  struct {
    const char* locale;
    uint32_t fileVersionLS;
    const char* company;
  } cases[] = {
      {"fr_FR.UTF-8", 1,
       "ressource fran\xE7"
       "aise"},  // the user's
      {"fr_CA", 1,
       "ressource fran\xE7"
       "aise"},                          // its primary language, default sublanguage
      {"C", 2, "English resource"},      // 0x0409
      {"de_DE", 2, "English resource"},  // none of them: English (US)
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.locale);
    UserLanguage language(c.locale);
    CFileVersionInfo info;
    ASSERT_EQ(1, info.Load(path));
    EXPECT_EQ(c.fileVersionLS, info.m_FileInfo.dwFileVersionLS);
    EXPECT_EQ(c.company, info.m_strCompanyName);
  }
}

#endif

TEST(PeVersion, HostileImagesAreReadWithinTheirBounds) {
  std::string dir = FixtureHostPath("hostile");
  // What the reader gives for each corrupted image (version_test_util.h); Load and the seam on
  // both builds: FileVersionInfo.CorruptedImagesGiveSizeZeroOrLoadZero.
  for (const auto& e : versiontest::kCorruptedImages) {
    SCOPED_TRACE(e.first);
    std::string bytes = ReadHostFile(dir + "/" + e.first);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(e.second, ReadAll(bytes));
  }
  // Cut short anywhere before the end of the version data: no version data.
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    if (name.compare(0, 4, "cut_") != 0) continue;
    SCOPED_TRACE(name);
    EXPECT_EQ(0, ReadAll(ReadHostFile(entry.path().string())));
  }
}

TEST(PeVersion, EveryTruncationOfAnImageIsHarmless) {
  for (const char* name : {"synth_pe32.dll", "synth_pe32plus.dll", "tariflib.dll"}) {
    // As made, and with its resource section, the last one, 0x400 bytes longer: the version data
    // then ends more than a sector before the file does.
    const std::string made = ReadHostFile(FixtureHostPath(name));
    for (const std::string& bytes : {made, WithLongerLastSection(made, 0x400)}) {
      SCOPED_TRACE(std::string(name) + " of " + std::to_string(bytes.size()) + " bytes");
      ASSERT_EQ(2, ReadAll(bytes));
      ASSERT_EQ(0u, bytes.size() % 512);
      pe::MemorySource whole(bytes.data(), bytes.size());
      pe::VersionResource resource;
      ASSERT_TRUE(pe::FindVersionResource(whole, pe::LanguagePreference(), &resource));
      const uint64_t dataEnd = resource.offset + resource.length;
      for (size_t cut = 0; cut < bytes.size(); ++cut) {
        // The version data must lie in the file, and the file may end before its section does
        // only within its last sector, as the system maps the image.
        const bool read = cut >= dataEnd && cut > bytes.size() - 512;
        ASSERT_EQ(read ? 2 : 0, ReadAll(bytes.substr(0, cut))) << "cut at " << cut;
      }
    }
  }
}

TEST(PeVersion, EveryCorruptedByteIsHarmless) {
  for (const char* name : {"synth_pe32.dll", "synth_pe32plus.dll", "tariflib.dll"}) {
    SCOPED_TRACE(name);
    const std::string good = ReadHostFile(FixtureHostPath(name));
    CountingSource reader(good);
    std::vector<unsigned char> whole, block;
    ASSERT_EQ(2, ReadAll(reader, &whole));
    int changed = 0;
    for (size_t at = 0; at < good.size(); ++at) {
      for (unsigned char change : {0x00, 0xFF, 0x80, 0x01}) {
        std::string bytes = good;
        bytes[at] = static_cast<char>(change == 0x01 ? bytes[at] + 1 : change);
        pe::MemorySource source(bytes.data(), bytes.size());
        // Every value found lies in its block (ReadAll checks), with no crash and no access
        // outside the image (the sanitize preset checks); a byte the reader never takes changes
        // nothing.
        const int stage = ReadAll(source, &block);
        if (!reader.read[at]) {
          EXPECT_EQ(2, stage) << at;
          EXPECT_TRUE(block == whole) << at;
        } else {
          changed += stage != 2 || block != whole ? 1 : 0;
        }
      }
    }
    EXPECT_GT(changed, 0);  // the reader does take the headers and the block
  }
}

TEST(PeVersion, OnlyTheHeadersTheDirectoryAndTheDataAreRead) {
  std::string bytes = ReadHostFile(FixtureHostPath("synth_pe32.dll"));
  CountingSource source(bytes);
  pe::VersionResource resource;
  ASSERT_TRUE(pe::FindVersionResource(source, pe::LanguagePreference(), &resource));
  // DOS header, signature, file header, optional header to the directory, section table, and
  // 3 directory headers with one entry each and the data entry: a few hundred bytes.
  EXPECT_LT(source.bytesRead, 400u);
  EXPECT_LT(source.reads, 16);
  std::vector<unsigned char> block(verinfo::VersionBufferSize(resource));
  size_t before = source.bytesRead;
  ASSERT_TRUE(verinfo::ReadVersionBlock(source, resource, static_cast<uint32_t>(block.size()),
                                        block.data()));
  EXPECT_EQ(resource.length, source.bytesRead - before);
}

TEST(PeVersion, AFailedFileOperationFailsTheLoad) {
  testutil::ScratchMachine machine;
  std::string path = Install(machine, "tariflib.dll");
  CFileVersionInfo info;
  fault::Disarm();
  ASSERT_EQ(1, info.Load(path));
  const int operations = fault::Count();
  ASSERT_GT(operations, 4);
  for (int nth = 1; nth <= operations; ++nth) {
    SCOPED_TRACE(nth);
    ASSERT_EQ(1, info.Load(path));
    fault::FailNth(nth, false);
    int result = info.Load(path);
    fault::Place struck{};
    const bool reached = fault::Reached(&struck);
    fault::Disarm();
    if (result == 0) {
      FixedFileInfo zero;
      std::memset(&zero, 0, sizeof(zero));
      EXPECT_EQ(0, std::memcmp(&zero, &info.m_FileInfo, sizeof(zero)));
      EXPECT_EQ("", info.m_strCompanyName);
    } else {
      // Only a failed close may pass unseen: a failed read never lets another language stand in.
      EXPECT_TRUE(!reached || struck.kind == fault::Op::kClose);
      EXPECT_EQ("ORVANE S.A.", info.m_strCompanyName);
    }
  }
}

TEST(PeVersion, TheFileIsOpenedSharedButNotAgainstANoSharingOpen) {
  testutil::ScratchMachine machine;
  std::string path = Install(machine, "tariflib.dll");
  CFileVersionInfo info;
  {
    os::File reader;
    ASSERT_TRUE(testutil::Hold(path, os::FileMode::kReadShared, &reader));
    EXPECT_EQ(1, info.Load(path));  // another shared reader is fine
  }
  {
    os::File holder;
    ASSERT_TRUE(testutil::Hold(path, os::FileMode::kRead, &holder));
    EXPECT_EQ(0, info.Load(path));  // held with no sharing
  }
  EXPECT_EQ(1, info.Load(path));
}
