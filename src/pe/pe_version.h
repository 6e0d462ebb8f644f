// Our own version-resource reader: the RT_VERSION resource of a PE image (PE32 and PE32+), found
// the way Windows' version library finds it (its VS_VERSIONINFO block: version_block.h). Both
// builds read versions with it alone.
// The input is hostile: every offset and length is checked against what was read, a resource
// counts only when all the data it declares lies inside the file, no allocation depends on more
// than the 16-bit lengths of the version block or the section count, and nothing is read beyond
// the headers, the resource directory entries on the way and the version data itself.
#pragma once

#include <cstddef>
#include <cstdint>

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

// The languages the resource lookup prefers, in the order of Windows' version library: neutral,
// the thread's, the user's, the user's primary language (neutral and default sublanguage), the
// system's, its primary language (likewise), English (US); then the first entry of the directory.
struct LanguagePreference {
  uint16_t thread = 0x0409;
  uint16_t user = 0x0409;
  uint16_t system = 0x0409;
};

// Where the version data lies in the file. |length| is the resource's size, at most
// kMaxVersionData: a version block cannot be longer (its length is a 16-bit field), and what the
// resource declares beyond that is not read, though it must lie inside the file too.
struct VersionResource {
  uint64_t offset = 0;
  uint32_t length = 0;
};

constexpr uint32_t kMaxVersionData = 0x10000;

// Finds resource type RT_VERSION (16), name VS_VERSION_INFO (1), in the preferred language.
// False when |source| is not a PE image, has no such resource, or the resource's data, all the
// size it declares, does not lie inside the file: the system's library copies all of it. A
// resource section whose raw data runs past the end of the file, which ends within its last
// 512-byte sector, is read as the system maps it: as far as the file goes, and zeros beyond.
[[nodiscard]] bool FindVersionResource(ByteSource& source, const LanguagePreference& languages,
                                       VersionResource* out);

}  // namespace pe
