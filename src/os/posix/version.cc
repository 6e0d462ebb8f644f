// What the version reader takes from the emulated system: the languages, from the environment as
// a Windows user's would be, and cp1252, the ANSI code page, for its texts.
#include "machine/cp1252.h"
#include "os/locale.h"
#include "os/version_file.h"
#include "pe/version_block.h"

namespace platform {
namespace pe {

LanguagePreference ResourceLanguages() {
  // One locale stands for the thread's, the user's and the system's languages alike.
  LanguagePreference languages;
  languages.thread = static_cast<uint16_t>(ThreadLocale() & 0xFFFF);
  languages.user = UserDefaultLangId();
  languages.system = languages.user;
  return languages;
}

std::string AnsiFromUtf16(const std::u16string& text) {
  // Code unit by code unit: a surrogate pair becomes two default characters, as Windows gives it.
  std::string ansi(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i)
    ansi[i] = static_cast<char>(posix::UnicodeToCp1252(text[i], true));
  return ansi;
}

}  // namespace pe
}  // namespace platform
