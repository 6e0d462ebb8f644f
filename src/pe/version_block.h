// VerQueryValueA over a version block that our PE reader filled (pe_version.h), walked as
// Windows' version library walks it, its texts handed back in the ANSI code page.
#pragma once

#include <cstdint>
#include <string>

namespace platform {
namespace pe {

// VerQueryValueA over a block that ReadVersionBlock filled; see platform::QueryVersionValue.
[[nodiscard]] bool QueryVersionBlock(const void* block, const std::string& subBlock,
                                     const void** value, uint32_t* length);

// The two conversions of the ANSI code page that a query makes, as the system makes them, each
// platform's own (platform/*/version.cc): a query's path to UTF-16 (MultiByteToWideChar), and a
// text value to the ANSI code page (WideCharToMultiByte with its best fit and default character).
std::u16string Utf16FromAnsi(const std::string& text);
std::string AnsiFromUtf16(const std::u16string& text);

}  // namespace pe
}  // namespace platform
