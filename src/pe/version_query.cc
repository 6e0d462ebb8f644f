// Queries of a version buffer as Windows' version library answers them.
#include "pe/version_query.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/little_endian.h"
#include "pe/version_block.h"

namespace platform {
namespace pe {
namespace {

// The components of a query's path between backslashes, empty ones skipped.
std::vector<std::u16string> PathComponents(const std::string& subBlock) {
  const std::u16string path = Utf16FromAnsi(subBlock);
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

bool ReadVersionBlock(ByteSource& source, const VersionResource& resource, uint32_t size,
                      void* data) {
  uint8_t* block = static_cast<uint8_t*>(data);
  std::memset(block, 0, size);
  const uint32_t count = std::min(resource.length, size);
  const uint32_t rootLength =
      source.ReadAt(resource.offset, block, count) ? WholeBlockLength(block, count) : 0;
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
  const uint32_t rootLength = ReadLe16(block);
  const std::vector<std::u16string> components = PathComponents(subBlock);
  const std::vector<VersionKey> keys(components.begin(), components.end());
  VersionValue found;
  if (!VersionTree(block, rootLength).Find(keys.data(), keys.size(), &found)) return false;
  if (!found.text) {
    *value = found.data;
    if (length) *length = found.size;
    return true;
  }
  // A text goes into the area behind the block, as far behind the block's end as the value lies
  // behind its start, which has as many bytes there as the block has from the value on.
  const std::string ansi = AnsiValue(found);
  uint8_t* area = block + rootLength + 4 + (found.data - block);
  std::copy(ansi.begin(), ansi.end(), area);
  *value = area;
  if (length) *length = static_cast<uint32_t>(ansi.size());
  return true;
}

}  // namespace pe
}  // namespace platform
