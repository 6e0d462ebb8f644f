// Bytes in memory read as a file, for the reader's tests and fuzzer: a file of its own, so that
// the launcher, which reads only files, never links it.
#include <cstring>

#include "pe/pe_version.h"

namespace pe {

bool MemorySource::ReadAt(uint64_t offset, void* out, size_t size) {
  if (offset > size_ || size > size_ - offset) return false;
  if (size) std::memcpy(out, data_ + offset, size);
  return true;
}

}  // namespace pe
