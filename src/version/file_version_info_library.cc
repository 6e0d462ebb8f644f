// CFileVersionInfo read from what the support tool, the tests and the fuzzer give it: through the
// three calls of a version library, which the tool compares with the system's, or from bytes.
#include <memory>
#include <new>

#include "os/locale.h"
#include "pe/version_block.h"
#include "version/file_version_info.h"

int CFileVersionInfo::LoadForTesting(platform::pe::ByteSource& source,
                                     const platform::pe::VersionResource& resource) {
  return Guarded([&] { return Read(source, resource); });
}

int CFileVersionInfo::Load(const std::string& fileName, const platform::VersionLibrary& library) {
  return Guarded([&] {
    uint32_t handle = 0;
    const uint32_t size = library.size(fileName, &handle);
    if (size == 0) return 0;
    // Zero-filled, so nothing of an earlier use of the memory can show through.
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[size]());
    if (!buffer || !library.read(fileName, handle, size, buffer.get())) return 0;

    const void* value = nullptr;
    uint32_t length = 0;
    if (library.query(buffer.get(), "\\", &value, &length)) TakeFixedBlock(value, length);
    const void* table = nullptr;
    uint32_t tableLength = 0;
    if (!library.query(buffer.get(), "\\VarFileInfo\\Translation", &table, &tableLength)) {
      table = nullptr;
      tableLength = 0;
    }
    uint32_t entry = 0;
    if (!ChooseLanguageEntry(platform::UserDefaultLangId(), table, tableLength, &entry)) return 1;
    char name[9];
    platform::pe::StringTableName(entry, name);
    const std::string prefix = std::string("\\StringFileInfo\\") + name + "\\";
    for (int i = 0; i < 12; ++i) {
      if (library.query(buffer.get(), prefix + kStringKeys[i], &value, &length) && value) {
        TakeString(i, value, length);
      }
    }
    return 1;
  });
}
