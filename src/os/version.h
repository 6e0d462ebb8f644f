// Version resources: the three calls of a version library (GetFileVersionInfoSizeA,
// GetFileVersionInfoA, VerQueryValueA), answered on every platform by our own reader of the PE
// file, with the results the Windows calls give (string values in the ANSI code page), so that
// verinfo can set them beside the system's own. The launcher reads the version block directly
// (pe/version_block.h); the product's folder may be written by any user, so no file it reads
// reaches the system's version library, which trusts what a file declares.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

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

// The three calls of one version library, so that a support tool can read through another one
// than ours (os/tool.h).
struct VersionLibrary {
  uint32_t (*size)(const std::string& path, uint32_t* handle);
  bool (*read)(const std::string& path, uint32_t handle, uint32_t size, void* data);
  bool (*query)(const void* block, const std::string& subBlock, const void** value,
                uint32_t* length);
};

// Ours: the three functions above.
const VersionLibrary& OwnVersionLibrary();

}  // namespace platform
