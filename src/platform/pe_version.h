// Our own version-resource reader: the RT_VERSION resource of a PE image (PE32 and PE32+) and
// the VS_VERSIONINFO tree in it, read the way Windows' version library reads them. The POSIX
// build reads versions with it; the Windows build locates a file's version data with it before
// the system's version library, which trusts what the file says, is given the file.
// The input is hostile: every offset and length is checked against what was read, no
// allocation depends on more than the 16-bit lengths of the version block or the section count,
// and nothing is read beyond the headers, the resource directory entries on the way and the
// version data itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {
namespace pe {

// Bytes read at given offsets: a file, or memory in tests and the fuzzer.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The length of the whole input.
  virtual uint64_t Size() const = 0;
  // Reads exactly |size| bytes at |offset|; false when they are not all there or on an error.
  virtual bool ReadAt(uint64_t offset, void* out, size_t size) = 0;
};

// A ByteSource over memory (not owned).
class MemorySource : public ByteSource {
 public:
  MemorySource(const void* data, size_t size)
      : data_(static_cast<const uint8_t*>(data)), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* out, size_t size) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

// The languages the resource lookup prefers, as Windows' loader orders them for a version
// resource: neutral, the thread's, the user's, the user's primary language (neutral and default
// sublanguage), English (US); then the first entry of the directory.
struct LanguagePreference {
  uint16_t thread = 0x0409;
  uint16_t user = 0x0409;
};

// Where the version data lies in the file. |length| is the resource's size, at most
// kMaxVersionData: a version block cannot be longer (its length is a 16-bit field).
struct VersionResource {
  uint64_t offset = 0;
  uint32_t length = 0;
};

constexpr uint32_t kMaxVersionData = 0x10000;

// Finds resource type RT_VERSION (16), name VS_VERSION_INFO (1), in the preferred language.
// False when |source| is not a PE image, has no such resource, or the resource's data does not
// lie wholly inside the file. A resource section whose raw data runs past the end of the file,
// which ends within its last 512-byte sector, is read as the system maps it: as far as the file
// goes, and zeros beyond.
bool FindVersionResource(ByteSource& source, const LanguagePreference& languages,
                         VersionResource* out);

// The buffer size that GetFileVersionInfoSizeA reports for a resource: twice its length plus 4
// (room for the cp1252 copies of the strings and the "FE2X" mark).
inline uint32_t VersionBufferSize(const VersionResource& resource) {
  return resource.length * 2 + 4;
}

// Reads the version data into |data| (|size| bytes, zero-filled beyond the data) and marks its end
// with "FE2X" as Windows does. False, with |data| all zeros, when the data cannot be read or is
// not a whole version block (IsWholeVersionBlock).
bool ReadVersionBlock(ByteSource& source, const VersionResource& resource, uint32_t size,
                      void* data);

// True when the version data in |block| (a buffer of |size| bytes, of which the first |length|,
// at most |size|, are the resource's data) begins with a 32-bit VS_VERSIONINFO block that lies
// inside the data with room for the cp1252 area behind it: root length from 6 bytes up to
// |length|, and |size| at least twice it plus 4. VerQueryValueA writes its cp1252 texts into that
// area, as far behind the block's start as the root length says.
bool IsWholeVersionBlock(const void* block, uint32_t length, uint32_t size);

}  // namespace pe
}  // namespace platform
