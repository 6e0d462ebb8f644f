// The version resource of a file on disk, through the platform's file layer.
#include "os/version_file.h"

#include "os/internal/folder.h"
#include "os/internal/locale.h"

namespace os {

bool FileSource::Open(const FileLocation& file) {
  if (OpenInHeldFolder(file, FileMode::kReadShared, false, &file_) != OpenStatus::kDone) {
    return false;
  }
  int64_t length = 0;
  if (!file_.SeekEnd(&length) || length < 0) return false;
  size_ = static_cast<uint64_t>(length);
  return true;
}

bool FileSource::ReadAt(uint64_t offset, void* out, size_t size) {
  if (offset > size_ || size > size_ - offset) return false;
  return file_.Seek(static_cast<int64_t>(offset)) && file_.ReadExactly(out, size);
}

bool LocateVersionResource(const FileLocation& file, FileSource* source,
                           pe::VersionResource* resource) {
  return source->Open(file) && pe::FindVersionResource(*source, ResourceLanguages(), resource);
}

}  // namespace os
