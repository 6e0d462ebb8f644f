// The version data laid out as Windows' version library lays it out (GetFileVersionInfoA's
// buffer) and VerQueryValueA over it: what a support tool compares with the system's library.
#pragma once

#include <cstdint>
#include <string>

#include "pe/pe_version.h"

namespace platform {
namespace pe {

// The buffer size that GetFileVersionInfoSizeA reports for a resource: twice its length plus 4
// (room for the ANSI copies of the strings and the "FE2X" mark).
inline uint32_t VersionBufferSize(const VersionResource& resource) {
  return resource.length * 2 + 4;
}

// Reads the version data into |data| (|size| bytes, zero-filled beyond the data) and marks its end
// with "FE2X" as Windows does. False, with |data| all zeros, when the data cannot be read or is
// not a whole version block (WholeBlockLength), with room behind it in |data| for the query's
// conversion area.
[[nodiscard]] bool ReadVersionBlock(ByteSource& source, const VersionResource& resource,
                                    uint32_t size, void* data);

// VerQueryValueA over a block that ReadVersionBlock filled; see platform::QueryVersionValue.
[[nodiscard]] bool QueryVersionBlock(const void* block, const std::string& subBlock,
                                     const void** value, uint32_t* length);

// A query's path in UTF-16, as the version library converts it from the ANSI code page: each
// platform's own (os/*/version_query.cc), MultiByteToWideChar.
std::u16string Utf16FromAnsi(const std::string& text);

}  // namespace pe
}  // namespace platform
