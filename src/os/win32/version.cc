// What the version reader takes from the system: the languages its resource lookup prefers, and
// the conversion of texts to the ANSI code page. The version data itself is read by our own
// reader.
#include <windows.h>

#include "os/version_file.h"
#include "pe/version_block.h"

namespace platform {
namespace pe {

LanguagePreference ResourceLanguages() {
  LanguagePreference languages;
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

}  // namespace pe
}  // namespace platform
