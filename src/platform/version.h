// Version resources: the three operations of the platform's version library, behind the seam.
// Windows: GetFileVersionInfoSizeA, GetFileVersionInfoA (their wide forms for a file beside the
// launcher) and VerQueryValueA of System32's version.dll, loaded at run time by full path. POSIX:
// our own reader of the PE file, with the results the Windows calls give (string values in
// cp1252).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// GetFileVersionInfoSizeA: the size of the buffer that ReadVersionInfo needs for the version data
// of |path| (a Windows path in cp1252), or 0 when the file is missing, unreadable, not a PE image
// or without a version resource. When there is version data, |*handle| is set to the value to pass
// on to ReadVersionInfo (0).
// A bare file name (no drive, no separator) is looked up in the launcher's own directory, then in
// the system directory; never in the current directory or on PATH.
uint32_t VersionInfoSize(const std::string& path, uint32_t* handle);

// GetFileVersionInfoA: reads the version data of |path| into |data|, of |size| bytes (the size
// that VersionInfoSize reported). False when it could not be read.
bool ReadVersionInfo(const std::string& path, uint32_t handle, uint32_t size, void* data);

// VerQueryValueA over the version data that ReadVersionInfo filled: |subBlock| is "\" for the
// fixed block, "\VarFileInfo\Translation" for the translation table, or
// "\StringFileInfo\<lang><cp>\<key>" for a string; names match without regard to ASCII case.
// On success |*value| points into |block| and |*length| is the value's length: bytes for binary
// values, characters for strings, which are handed back in cp1252 (the terminating zero counted
// when the resource counts it). Like the Windows call, a string query writes into the block's
// conversion area, so |block| must be the whole buffer that ReadVersionInfo filled.
bool QueryVersionValue(const void* block, const std::string& subBlock, const void** value,
                       uint32_t* length);

}  // namespace platform
