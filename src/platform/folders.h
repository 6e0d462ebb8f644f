// The folders the program relies on: the Windows directory, the user's Documents and its own.
#pragma once

#include <string>

namespace platform {

// GetWindowsDirectoryA with a buffer of 259 characters; false when the call fails.
bool WindowsDirectory(std::string* out);

// SHGetSpecialFolderPathA(CSIDL_PERSONAL), never creating the folder; false when the call fails.
bool DocumentsFolder(std::string* out);

// The directory of the running executable, as a Windows path ending in a backslash.
std::string LauncherDirectory();

// True when |path| names an existing regular file.
bool FileExists(const std::string& path);

}  // namespace platform
