// Our reader behind the three calls of a version library (GetFileVersionInfoSizeA,
// GetFileVersionInfoA, VerQueryValueA), with the results the Windows calls give (string values in
// the ANSI code page), so that verinfo can set them beside the system's own. The launcher reads
// the version block directly (pe/version_block.h): the product's folder may be written by any
// user, so no file it reads reaches the system's version library, which trusts what a file
// declares.
#pragma once

#include <cstdint>
#include <string>

#include "os/tool.h"
#include "pe/pe_version.h"
#include "version/file_version_info.h"

namespace verinfo {

// The buffer size that GetFileVersionInfoSizeA reports for a resource: twice its length plus 4
// (room for the ANSI copies of the strings and the "FE2X" mark).
inline uint32_t VersionBufferSize(const pe::VersionResource& resource) {
  return resource.length * 2 + 4;
}

// Reads the version data into |data| (|size| bytes, zero-filled beyond the data) and marks its end
// with "FE2X" as Windows does. False, with |data| all zeros, when the data cannot be read or is
// not a whole version block (WholeBlockLength), with room behind it in |data| for the query's
// conversion area.
[[nodiscard]] bool ReadVersionBlock(pe::ByteSource& source, const pe::VersionResource& resource,
                                    uint32_t size, void* data);

// VerQueryValueA over a block that ReadVersionBlock filled; see QueryVersionValue.
[[nodiscard]] bool QueryVersionBlock(const void* block, const std::string& subBlock,
                                     const void** value, uint32_t* length);

// GetFileVersionInfoSizeA: the size of the buffer that ReadVersionInfo needs for the version data
// of |path| (a Windows path in cp1252), or 0 when the file is missing, unreadable, not a PE image
// or without a version resource that lies wholly inside it. When there is version data, |*handle|
// is set to the value to pass on to ReadVersionInfo (0).
// A bare file name (no drive, no separator) is looked up in the launcher's own directory, then in
// the system directory; never in the current directory or on PATH.
[[nodiscard]] uint32_t VersionInfoSize(const std::string& path, uint32_t* handle);

// GetFileVersionInfoA: reads the version data of |path| into |data|, of |size| bytes (the size
// that VersionInfoSize reported). False when it could not be read.
[[nodiscard]] bool ReadVersionInfo(const std::string& path, uint32_t handle, uint32_t size,
                                   void* data);

// VerQueryValueA over the version data that ReadVersionInfo filled: |subBlock| is "\" for the
// fixed block, "\VarFileInfo\Translation" for the translation table, or
// "\StringFileInfo\<lang><cp>\<key>" for a string; names match without regard to ASCII case.
// On success |*value| points into |block| and |*length| is the value's length: bytes for binary
// values, characters for strings, which are handed back in the ANSI code page (the terminating
// zero counted when the resource counts it). Like the Windows call, a string query writes into
// the block's conversion area, so |block| must be the whole buffer that ReadVersionInfo filled.
[[nodiscard]] bool QueryVersionValue(const void* block, const std::string& subBlock,
                                     const void** value, uint32_t* length);

// Ours: the three functions above.
const os::VersionLibrary& OwnVersionLibrary();

// CFileVersionInfo::Load's result and fields for |fileName|, read through the three calls of
// |library| (the system's, or ours laid out as the system lays it out) instead of directly.
int LoadThrough(const os::VersionLibrary& library, const std::string& fileName,
                CFileVersionInfo* info);

}  // namespace verinfo
