// CFileVersionInfo: the version resource of one file, read into a plain object: the
// fixed version block and the twelve string fields of the language that suits the user best.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "pe/pe_version.h"

// The platform's VS_FIXEDFILEINFO, field for field (52 bytes, in the platform's order).
struct FixedFileInfo {
  uint32_t dwSignature;
  uint32_t dwStrucVersion;
  uint32_t dwFileVersionMS;  // major number in the high 16 bits, minor number in the low 16 bits
  uint32_t dwFileVersionLS;
  uint32_t dwProductVersionMS;
  uint32_t dwProductVersionLS;
  uint32_t dwFileFlagsMask;
  uint32_t dwFileFlags;
  uint32_t dwFileOS;
  uint32_t dwFileType;
  uint32_t dwFileSubtype;
  uint32_t dwFileDateMS;
  uint32_t dwFileDateLS;
};
static_assert(sizeof(FixedFileInfo) == 52, "VS_FIXEDFILEINFO is 52 bytes");

class CFileVersionInfo {
 public:
  // The twelve string keys, in the order of the string fields, spelled as they are looked up.
  static const char* const kStringKeys[12];

  // Starts in the empty state: fixed block zero, every string empty.
  CFileVersionInfo();
  virtual ~CFileVersionInfo();
  CFileVersionInfo(const CFileVersionInfo&) = delete;
  CFileVersionInfo& operator=(const CFileVersionInfo&) = delete;

  // Back to the empty state.
  virtual void Clear();

  // Reads the version resource of |fileName|: 1 when it was read, else 0 and the object is empty.
  // |fileName| is a full path, or a bare name looked up in the launcher's directory, then the
  // system directory. The fixed block is filled only when the root block has exactly 52 bytes; the
  // strings are those of the translation entry chosen for the user's default language (see
  // ChooseLanguageEntry). A resource without a translation table, or with one of fewer than 4
  // bytes, leaves every string empty; the fixed block and the result 1 stand. Running out of
  // memory is a version that cannot be read.
  int Load(const std::string& fileName);

  // Load's reading of the version resource |resource| that our reader found in |source|: the
  // same result and fields, from bytes that a fuzzer or a test gives.
  int LoadForTesting(pe::ByteSource& source, const pe::VersionResource& resource);

  // Looks in |table| (|tableLength| bytes of 32-bit entries: language in the low 16 bits, code
  // page in the high 16 bits; only whole entries count) for an entry whose language is |langId|,
  // then, when |allowLow8| is nonzero, for one whose language has the same low 8 bits; the first
  // match of each pass wins. Returns 1 and sets |*entry|, else 0.
  static int FindLanguageEntry(uint16_t langId, const void* table, uint32_t tableLength,
                               int allowLow8, uint32_t* entry);

  // The string table Load reads, chosen by the first of seven rules that finds an entry: the user's
  // language exactly; its low 8 bits; 0x0000; low 8 bits 0x00; 0x0009; low 8 bits 0x09; the
  // table's first entry. Returns 1 and sets |*entry|, or 0 for a table with no whole entry.
  static int ChooseLanguageEntry(uint16_t userLangId, const void* table, uint32_t tableLength,
                                 uint32_t* entry);

  // The fixed block.
  FixedFileInfo m_FileInfo;
  // The twelve strings (cp1252), in the order of kStringKeys.
  std::string m_strCompanyName;
  std::string m_strFileDescription;
  std::string m_strFileVersion;
  std::string m_strInternalName;
  std::string m_strLegalCopyright;
  std::string m_strOriginalFileName;
  std::string m_strProductName;
  std::string m_strProductVersion;
  std::string m_strComments;
  std::string m_strLegalTrademarks;
  std::string m_strPrivateBuild;
  std::string m_strSpecialBuild;

  // The string field of kStringKeys[index] (index 0 to 11).
  std::string& StringField(int index);
  const std::string& StringField(int index) const;

  // The steps of a reading, for readers other than Load's own: a support tool reads through a
  // version library.

  // Empties the object, then runs |read|, Load's reading, which throws std::bad_alloc when
  // memory runs out: then the object is left empty and the result is 0.
  template <typename Read>
  int Guarded(Read read) {
    Clear();
    try {
      return read();
    } catch (const std::bad_alloc&) {
      Clear();
      return 0;
    }
  }

  // The fixed block from the root's value, |length| bytes at |value| as a query of the version
  // library hands it back: taken only when it has exactly the block's 52 bytes.
  void TakeFixedBlock(const void* value, uint32_t length) {
    if (value != nullptr && length == sizeof(m_FileInfo)) {
      std::memcpy(&m_FileInfo, value, sizeof(m_FileInfo));
    }
  }

  // The string field |index| from a value as a query hands it back: its text up to its first
  // zero byte, within |length|.
  void TakeString(int index, const void* value, uint32_t length) {
    const char* text = static_cast<const char*>(value);
    const void* zero = std::memchr(text, 0, length);
    StringField(index).assign(text, zero ? static_cast<const char*>(zero) - text : length);
  }

 private:
  // Load's reading of a resource located in |source|, our reader's road.
  int Read(pe::ByteSource& source, const pe::VersionResource& resource);
};
