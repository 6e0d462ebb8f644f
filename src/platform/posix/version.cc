// Version resources on POSIX: our own reader of the PE file, seeking and reading only the headers,
// the resource directory entries on the way and the version data.
#include "platform/version.h"

#include "platform/file.h"
#include "platform/folders.h"
#include "platform/locale.h"
#include "platform/posix/pe_version.h"

namespace platform {
namespace {

// A file read through the platform's file layer (each seek and read counted by the fault seam).
class FileSource : public pe::ByteSource {
 public:
  bool Open(const FileLocation& path) {
    // Shared with other readers, as the version library opens it; refused while another
    // process holds the file with no sharing.
    if (!File::Open(path, FileMode::kReadShared, false, &file_)) return false;
    int64_t length = 0;
    if (!file_.SeekEnd(&length) || length < 0) return false;
    size_ = static_cast<uint64_t>(length);
    return true;
  }

  uint64_t Size() const override { return size_; }

  bool ReadAt(uint64_t offset, void* out, size_t size) override {
    if (offset > size_ || size > size_ - offset) return false;
    if (!file_.Seek(static_cast<int64_t>(offset))) return false;
    char* p = static_cast<char*>(out);
    while (size > 0) {
      size_t got = 0;
      if (!file_.Read(p, size, &got) || got == 0) return false;
      p += got;
      size -= got;
    }
    return true;
  }

 private:
  File file_;
  uint64_t size_ = 0;
};

pe::LanguagePreference Languages() {
  pe::LanguagePreference languages;
  languages.thread = static_cast<uint16_t>(ThreadLocale() & 0xFFFF);
  languages.user = UserDefaultLangId();
  return languages;
}

bool Locate(const std::string& path, FileSource* source, pe::VersionResource* resource) {
  return !path.empty() && source->Open(LibraryLocation(path)) &&
         pe::FindVersionResource(*source, Languages(), resource);
}

}  // namespace

uint32_t VersionInfoSize(const std::string& path, uint32_t* handle) {
  FileSource source;
  pe::VersionResource resource;
  if (!Locate(path, &source, &resource)) return 0;
  if (handle) *handle = 0;
  return pe::VersionBufferSize(resource);
}

bool ReadVersionInfo(const std::string& path, uint32_t /*handle: unused, as on Windows*/,
                     uint32_t size, void* data) {
  if (data == nullptr) return false;
  FileSource source;
  pe::VersionResource resource;
  if (!Locate(path, &source, &resource)) return false;
  return pe::ReadVersionBlock(source, resource, size, data);
}

bool QueryVersionValue(const void* block, const std::string& subBlock, const void** value,
                       uint32_t* length) {
  return pe::QueryVersionBlock(block, subBlock, value, length);
}

}  // namespace platform
