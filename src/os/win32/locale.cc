// Locale identifiers on Windows, the languages its resource lookup prefers, and the ANSI code
// page's conversions.
#include <windows.h>

#include "os/internal/locale.h"
#include "os/locale.h"

namespace os {

uint32_t ThreadLocale() { return GetThreadLocale(); }

uint16_t UserDefaultLangId() { return GetUserDefaultLangID(); }

pe::LanguagePreference ResourceLanguages() {
  pe::LanguagePreference languages;
  languages.thread = LANGIDFROMLCID(GetThreadLocale());
  languages.user = GetUserDefaultUILanguage();
  languages.system = GetSystemDefaultUILanguage();
  return languages;
}

std::string AnsiFromUtf16(const std::u16string& text) {
  if (text.empty()) return std::string();
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int size = static_cast<int>(text.size());
  const int count = WideCharToMultiByte(CP_ACP, 0, wide, size, nullptr, 0, nullptr, nullptr);
  if (count <= 0) return std::string();
  std::string ansi(static_cast<size_t>(count), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, size, &ansi[0], count, nullptr, nullptr);
  return ansi;
}

}  // namespace os
