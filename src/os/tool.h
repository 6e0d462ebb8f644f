// What a command-line support tool needs of the platform: its standard output, and the files its
// user names, read as any tool of that platform reads them.
#pragma once

#include <cstdint>
#include <string>

namespace os {

// The three calls of one version library (GetFileVersionInfoSizeA, GetFileVersionInfoA,
// VerQueryValueA), so that a support tool can read through another one than ours.
struct VersionLibrary {
  uint32_t (*size)(const std::string& path, uint32_t* handle);
  bool (*read)(const std::string& path, uint32_t handle, uint32_t size, void* data);
  bool (*query)(const void* block, const std::string& subBlock, const void** value,
                uint32_t* length);
};

// A query's path in UTF-16, as the version library reads it from the ANSI code page
// (MultiByteToWideChar; cp1252 on the emulated machine).
std::u16string Utf16FromAnsi(const std::string& text);

// Standard output writes its bytes as they are: LF stays LF on every platform.
void SetBinaryOutput();

// A command-line argument as text in cp1252, the encoding of the program's paths and strings.
std::string ArgumentText(const char* argument);

// The path under which the platform's file functions reach the file a user named on the command
// line: a relative name, a bare one too, from the current directory, never searched for
// elsewhere. Windows: the full path. POSIX: a drive path ("C:\..." or "C:/...") over the machine
// root, any other name a host path. Empty when no such path can be formed.
std::string NamedFile(const char* argument);

// The system's own version library (Windows: System32's version.dll, loaded at run time), for
// comparing our reader with it; nullptr where the platform has none (POSIX) or it cannot be
// loaded. It trusts what a file declares, and may fault on a damaged one.
const VersionLibrary* SystemVersionLibrary();

}  // namespace os
