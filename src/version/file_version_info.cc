// CFileVersionInfo: the version resource of one file, read by our own reader.
#include "version/file_version_info.h"

#include <cstring>

#include "base/little_endian.h"
#include "os/known_folders.h"
#include "os/locale.h"
#include "os/version_file.h"
#include "pe/version_block.h"

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
  return base::ReadLe32(static_cast<const uint8_t*>(table) + 4 * index);
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
  return Guarded([&] {
    os::FileSource source;
    pe::VersionResource resource;
    if (fileName.empty() ||
        !os::LocateVersionResource(os::LibraryLocation(fileName), &source, &resource)) {
      return 0;
    }
    return Read(source, resource);
  });
}

int CFileVersionInfo::Read(pe::ByteSource& source, const pe::VersionResource& resource) {
  pe::VersionBlock block;
  if (!block.Read(source, resource)) return 0;
  const pe::VersionTree tree = block.Tree();
  pe::VersionValue found;
  if (tree.Find(nullptr, 0, &found)) {
    const std::string value = pe::AnsiValue(found, os::AnsiFromUtf16);
    TakeFixedBlock(value.data(), static_cast<uint32_t>(value.size()));
  }
  std::string table;
  if (tree.Translation(&found)) table = pe::AnsiValue(found, os::AnsiFromUtf16);
  uint32_t entry = 0;
  if (!ChooseLanguageEntry(os::UserDefaultLangId(), table.data(),
                           static_cast<uint32_t>(table.size()), &entry)) {
    return 1;
  }
  for (int i = 0; i < 12; ++i) {
    if (!tree.String(entry, kStringKeys[i], &found)) continue;
    const std::string value = pe::AnsiValue(found, os::AnsiFromUtf16);
    TakeString(i, value.data(), static_cast<uint32_t>(value.size()));
  }
  return 1;
}
