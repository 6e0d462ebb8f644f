// The three calls of a version library on every platform, answered by our own reader of the PE
// file, bounded by what the file holds, reading each time through one handle only the headers,
// the resource directory entries on the way and the version data.
#include "os/version.h"

#include "os/known_folders.h"
#include "os/version_file.h"
#include "pe/version_query.h"

namespace platform {

uint32_t VersionInfoSize(const std::string& path, uint32_t* handle) {
  pe::FileSource source;
  pe::VersionResource resource;
  if (path.empty() || !pe::LocateVersionResource(LibraryLocation(path), &source, &resource))
    return 0;
  if (handle) *handle = 0;
  return pe::VersionBufferSize(resource);
}

bool ReadVersionInfo(const std::string& path, uint32_t /*handle: unused, as on Windows*/,
                     uint32_t size, void* data) {
  if (data == nullptr || path.empty()) return false;
  pe::FileSource source;
  pe::VersionResource resource;
  if (!pe::LocateVersionResource(LibraryLocation(path), &source, &resource)) return false;
  return pe::ReadVersionBlock(source, resource, size, data);
}

bool QueryVersionValue(const void* block, const std::string& subBlock, const void** value,
                       uint32_t* length) {
  return pe::QueryVersionBlock(block, subBlock, value, length);
}

const VersionLibrary& OwnVersionLibrary() {
  static const VersionLibrary library = {VersionInfoSize, ReadVersionInfo, QueryVersionValue};
  return library;
}

}  // namespace platform
