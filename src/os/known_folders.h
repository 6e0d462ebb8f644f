// The folders the program knows by their role: the Windows directory, Documents and its own.
#pragma once

#include <string>

#include "os/file_location.h"

namespace os {

// GetWindowsDirectoryA with a buffer of 259 characters; false when the call fails.
bool WindowsDirectory(std::string* out);

// SHGetSpecialFolderPathA(CSIDL_PERSONAL), never creating the folder; false when the call fails.
bool DocumentsFolder(std::string* out);

// Where a library named |path| is read from: a bare name from the launcher's own directory, else
// from the system directory, never from the current directory or PATH; any other path as it is.
// Empty when a bare name has neither directory to come from.
FileLocation LibraryLocation(const std::string& path);

// True when |file| names an existing regular file.
bool FileExists(const FileLocation& file);

}  // namespace os
