// CFileVersionInfo: the version resource of one file through the platform's version seam.
#include "version/file_version_info.h"

#include <cstring>
#include <memory>
#include <new>

#include "base/format.h"
#include "os/locale.h"

const char* const CFileVersionInfo::kStringKeys[12] = {
    "CompanyName",    "FileDescription",  "FileVersion",  "InternalName",
    "LegalCopyright", "OriginalFileName", "ProductName",  "ProductVersion",
    "Comments",       "LegalTrademarks",  "PrivateBuild", "SpecialBuild",
};

CFileVersionInfo::CFileVersionInfo() { Clear(); }

CFileVersionInfo::~CFileVersionInfo() = default;

void CFileVersionInfo::Clear() {
  std::memset(&m_FileInfo, 0, sizeof(m_FileInfo));
  for (int i = 0; i < 12; ++i) StringField(i).clear();
}

std::string& CFileVersionInfo::StringField(int index) {
  std::string* fields[12] = {
      &m_strCompanyName,    &m_strFileDescription,  &m_strFileVersion,  &m_strInternalName,
      &m_strLegalCopyright, &m_strOriginalFileName, &m_strProductName,  &m_strProductVersion,
      &m_strComments,       &m_strLegalTrademarks,  &m_strPrivateBuild, &m_strSpecialBuild,
  };
  return *fields[index];
}

const std::string& CFileVersionInfo::StringField(int index) const {
  return const_cast<CFileVersionInfo*>(this)->StringField(index);
}

namespace {

uint32_t EntryAt(const void* table, uint32_t index) {
  const unsigned char* p = static_cast<const unsigned char*>(table) + 4 * index;
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

int CFileVersionInfo::FindLanguageEntry(uint16_t langId, const void* table, uint32_t tableLength,
                                        int allowLow8, uint32_t* entry) {
  if (table == nullptr) return 0;
  const uint32_t count = tableLength / 4;  // whole entries only
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t candidate = EntryAt(table, i);
    if ((candidate & 0xFFFF) == langId) {
      *entry = candidate;
      return 1;
    }
  }
  if (!allowLow8) return 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t candidate = EntryAt(table, i);
    if ((candidate & 0xFF) == (langId & 0xFFu)) {
      *entry = candidate;
      return 1;
    }
  }
  return 0;
}

int CFileVersionInfo::ChooseLanguageEntry(uint16_t userLangId, const void* table,
                                          uint32_t tableLength, uint32_t* entry) {
  if (table == nullptr || tableLength < 4) return 0;  // no whole entry: an empty table
  if (FindLanguageEntry(userLangId, table, tableLength, 0, entry)) return 1;  // rule 1
  if (FindLanguageEntry(userLangId, table, tableLength, 1, entry)) return 1;  // rule 2
  if (FindLanguageEntry(0x0000, table, tableLength, 1, entry)) return 1;      // rules 3, 4
  if (FindLanguageEntry(0x0009, table, tableLength, 1, entry)) return 1;      // rules 5, 6
  *entry = EntryAt(table, 0);                                                 // rule 7
  return 1;
}

int CFileVersionInfo::Load(const std::string& fileName) {
  return Load(fileName, platform::OwnVersionLibrary());
}

int CFileVersionInfo::Load(const std::string& fileName, const platform::VersionLibrary& library) {
  try {
    return Read(fileName, library);
  } catch (const std::bad_alloc&) {
    Clear();  // out of memory: as a file that cannot be read
    return 0;
  }
}

int CFileVersionInfo::Read(const std::string& fileName, const platform::VersionLibrary& library) {
  Clear();
  uint32_t handle = 0;
  const uint32_t size = library.size(fileName, &handle);
  if (size == 0) return 0;
  // Zero-filled, so nothing of an earlier use of the memory can show through.
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[size]());
  if (!buffer) return 0;
  if (!library.read(fileName, handle, size, buffer.get())) return 0;

  const void* value = nullptr;
  uint32_t length = 0;
  if (library.query(buffer.get(), "\\", &value, &length) && length == sizeof(m_FileInfo)) {
    std::memcpy(&m_FileInfo, value, sizeof(m_FileInfo));
  }

  const void* table = nullptr;
  uint32_t tableLength = 0;
  if (!library.query(buffer.get(), "\\VarFileInfo\\Translation", &table, &tableLength)) {
    table = nullptr;
    tableLength = 0;
  }
  uint32_t entry = 0;
  if (ChooseLanguageEntry(platform::UserDefaultLangId(), table, tableLength, &entry)) {
    std::string prefix = platform::Format("\\StringFileInfo\\%04X%04X\\",
                                          static_cast<unsigned>(entry & 0xFFFF),
                                          static_cast<unsigned>(entry >> 16));
    for (int i = 0; i < 12; ++i) {
      if (!library.query(buffer.get(), prefix + kStringKeys[i], &value, &length) ||
          value == nullptr) {
        continue;
      }
      // The text up to its first zero byte, within the length the query reports.
      const char* text = static_cast<const char*>(value);
      const void* zero = std::memchr(text, 0, length);
      StringField(i).assign(text, zero ? static_cast<const char*>(zero) - text : length);
    }
  }
  return 1;
}
