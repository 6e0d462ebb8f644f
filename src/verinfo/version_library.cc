// Our reader behind the three calls of a version library, and CFileVersionInfo read through such a
// library: what verinfo compares with the system's, and what the tests and the fuzzer read.
#include "verinfo/version_library.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "base/little_endian.h"
#include "os/known_folders.h"
#include "os/locale.h"
#include "os/version_file.h"
#include "pe/version_block.h"

namespace verinfo {

namespace {

// The components of a query's path between backslashes, empty ones skipped.
std::vector<std::u16string> PathComponents(const std::string& subBlock) {
  const std::u16string path = os::Utf16FromAnsi(subBlock);
  std::vector<std::u16string> components;
  for (size_t at = 0; at < path.size();) {
    size_t next = path.find(u'\\', at);
    if (next == std::u16string::npos) next = path.size();
    if (next > at) components.push_back(path.substr(at, next - at));
    at = next + 1;
  }
  return components;
}

}  // namespace

bool ReadVersionBlock(pe::ByteSource& source, const pe::VersionResource& resource, uint32_t size,
                      void* data) {
  uint8_t* block = static_cast<uint8_t*>(data);
  std::memset(block, 0, size);
  const uint32_t count = std::min(resource.length, size);
  const uint32_t rootLength =
      source.ReadAt(resource.offset, block, count) ? pe::WholeBlockLength(block, count) : 0;
  if (rootLength == 0 || static_cast<uint64_t>(rootLength) * 2 + 4 > size) {
    std::memset(block, 0, size);
    return false;
  }
  std::memcpy(block + rootLength, "FE2X", 4);
  return true;
}

bool QueryVersionBlock(const void* data, const std::string& subBlock, const void** value,
                       uint32_t* length) {
  if (data == nullptr) return false;
  // Not const: a text query writes into the conversion area behind the block.
  uint8_t* block = static_cast<uint8_t*>(const_cast<void*>(data));
  if (block[4] >= ' ') return false;  // a 16-bit block: not made by ReadVersionBlock
  const uint32_t rootLength = base::ReadLe16(block);
  const std::vector<std::u16string> components = PathComponents(subBlock);
  const std::vector<pe::VersionKey> keys(components.begin(), components.end());
  pe::VersionValue found;
  if (!pe::VersionTree(block, rootLength).Find(keys.data(), keys.size(), &found)) return false;
  if (!found.text) {
    *value = found.data;
    if (length) *length = found.size;
    return true;
  }
  // A text goes into the area behind the block, as far behind the block's end as the value lies
  // behind its start, which has as many bytes there as the block has from the value on.
  const std::string ansi = pe::AnsiValue(found, os::AnsiFromUtf16);
  uint8_t* area = block + rootLength + 4 + (found.data - block);
  std::copy(ansi.begin(), ansi.end(), area);
  *value = area;
  if (length) *length = static_cast<uint32_t>(ansi.size());
  return true;
}

uint32_t VersionInfoSize(const std::string& path, uint32_t* handle) {
  os::FileSource source;
  pe::VersionResource resource;
  if (path.empty() || !os::LocateVersionResource(os::LibraryLocation(path), &source, &resource))
    return 0;
  if (handle) *handle = 0;
  return VersionBufferSize(resource);
}

bool ReadVersionInfo(const std::string& path, uint32_t /*handle: unused, as on Windows*/,
                     uint32_t size, void* data) {
  if (data == nullptr || path.empty()) return false;
  os::FileSource source;
  pe::VersionResource resource;
  if (!os::LocateVersionResource(os::LibraryLocation(path), &source, &resource)) return false;
  return ReadVersionBlock(source, resource, size, data);
}

bool QueryVersionValue(const void* block, const std::string& subBlock, const void** value,
                       uint32_t* length) {
  return QueryVersionBlock(block, subBlock, value, length);
}

const os::VersionLibrary& OwnVersionLibrary() {
  static const os::VersionLibrary library = {VersionInfoSize, ReadVersionInfo, QueryVersionValue};
  return library;
}

int LoadThrough(const os::VersionLibrary& library, const std::string& fileName,
                CFileVersionInfo* info) {
  return info->Guarded([&] {
    uint32_t handle = 0;
    const uint32_t size = library.size(fileName, &handle);
    if (size == 0) return 0;
    // Zero-filled, so nothing of an earlier use of the memory can show through.
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[size]());
    if (!buffer || !library.read(fileName, handle, size, buffer.get())) return 0;

    const void* value = nullptr;
    uint32_t length = 0;
    if (library.query(buffer.get(), "\\", &value, &length)) info->TakeFixedBlock(value, length);
    const void* table = nullptr;
    uint32_t tableLength = 0;
    if (!library.query(buffer.get(), "\\VarFileInfo\\Translation", &table, &tableLength)) {
      table = nullptr;
      tableLength = 0;
    }
    uint32_t entry = 0;
    if (!CFileVersionInfo::ChooseLanguageEntry(os::UserDefaultLangId(), table, tableLength,
                                               &entry)) {
      return 1;
    }
    char name[9];
    pe::StringTableName(entry, name);
    const std::string prefix = std::string("\\StringFileInfo\\") + name + "\\";
    for (int i = 0; i < 12; ++i) {
      if (library.query(buffer.get(), prefix + CFileVersionInfo::kStringKeys[i], &value, &length) &&
          value) {
        info->TakeString(i, value, length);
      }
    }
    return 1;
  });
}

}  // namespace verinfo
