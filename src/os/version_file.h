// The version resource of a file on disk, located by our own PE reader through the platform's
// file layer, in the languages that the system's resource lookup prefers.
#pragma once

#include <cstdint>

#include "os/file.h"
#include "os/file_location.h"
#include "pe/pe_version.h"

namespace os {

// A file read through the platform's file layer (each seek and read counted by the fault seam).
class FileSource : public pe::ByteSource {
 public:
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* out, size_t size) override;

 private:
  // The version reader opens the file itself, so that a source is read only once it is open.
  friend bool LocateVersionResource(const FileLocation& file, FileSource* source,
                                    pe::VersionResource* resource);

  // Opens |file| for reading in its held folder, never through a link or a second name, shared
  // with other readers only (FileMode::kReadShared), for as long as this object lives.
  [[nodiscard]] bool Open(const FileLocation& file);

  File file_;
  uint64_t size_ = 0;
};

// Opens |file| into |source| and finds its version resource in the languages of the calling
// thread, the user and the system; false when the file cannot be read or FindVersionResource
// finds nothing.
[[nodiscard]] bool LocateVersionResource(const FileLocation& file, FileSource* source,
                                         pe::VersionResource* resource);

}  // namespace os
