// The locale identifiers of the user and of the calling thread, and the ANSI code page's texts.
#pragma once

#include <cstdint>
#include <string>

namespace os {

// GetThreadLocale.
uint32_t ThreadLocale();

// GetUserDefaultLangID.
uint16_t UserDefaultLangId();

// A text in the ANSI code page, as the version library converts it (WideCharToMultiByte with its
// best fit and default character): cp1252 on the emulated machine.
std::string AnsiFromUtf16(const std::u16string& text);

}  // namespace os
