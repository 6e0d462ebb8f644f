// UTF-16 paths on Windows: the launcher's own folder and the files beside it.
#pragma once

#include <string>
#include <vector>

#include "os/file_location.h"

namespace os {
namespace win32 {

// A UTF-16 text ending in its zero, for the system's wide calls. Not std::wstring: the library's
// explicit instantiation of it would bring all its member functions into the executable (35 KiB).
using WideText = std::vector<wchar_t>;

// UTF-16 text without its zero.
using Text = std::vector<wchar_t>;

// |text| in the ANSI code page, in UTF-16 as the system's ANSI calls convert it, without a zero.
Text Wide(const std::string& text);

// |text| with its zero, for the system's calls.
Text Terminated(Text text);

// |text| in the ANSI code page, in UTF-16 as the system's ANSI calls convert it, with its zero.
WideText Widen(const std::string& text);

// The UTF-16 path of |file|: a file beside the launcher in the launcher's folder as the system
// spells it, whole however long; any other path converted from the ANSI code page. The empty text
// when the launcher's folder cannot be known.
WideText WidePath(const FileLocation& file);

// The full path of the open |handle| (a HANDLE) as the system resolves it, every link followed
// ("\\?\C:\..." or "\\?\UNC\server\share\..."), without its zero; false when it cannot be had.
bool FinalPath(void* handle, std::vector<wchar_t>* out);

}  // namespace win32
}  // namespace os
