// Locale identifiers on POSIX, taken from the environment as a Windows user's would be, and
// cp1252, the ANSI code page, for texts.
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "machine/cp1252.h"
#include "os/internal/locale.h"
#include "os/locale.h"

namespace os {
namespace {

struct LocaleName {
  const char* name;  // language_TERRITORY, or a bare language for its primary locale
  uint16_t langId;
};

const LocaleName kLocales[] = {
    {"fr_FR", 0x040C}, {"fr_BE", 0x080C}, {"fr_CA", 0x0C0C}, {"fr_CH", 0x100C}, {"fr_LU", 0x140C},
    {"fr", 0x040C},    {"en_US", 0x0409}, {"en_GB", 0x0809}, {"en_AU", 0x0C09}, {"en_CA", 0x1009},
    {"en_IE", 0x1809}, {"en", 0x0409},    {"de_DE", 0x0407}, {"de_CH", 0x0807}, {"de_AT", 0x0C07},
    {"de_LU", 0x1007}, {"de", 0x0407},    {"nl_NL", 0x0413}, {"nl_BE", 0x0813}, {"nl", 0x0413},
    {"it_IT", 0x0410}, {"it_CH", 0x0810}, {"it", 0x0410},    {"es_ES", 0x0C0A}, {"es", 0x0C0A},
    {"pt_PT", 0x0816}, {"pt_BR", 0x0416}, {"pt", 0x0816},
};

uint16_t LangIdFromEnvironment() {
  const char* value = nullptr;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    value = std::getenv(name);
    if (value && *value) break;
  }
  if (value == nullptr || *value == '\0') return 0x0409;
  // "fr_BE.UTF-8@euro" -> "fr_BE"
  size_t length = std::strcspn(value, ".@");
  for (const LocaleName& locale : kLocales) {
    if (std::strlen(locale.name) == length && std::strncmp(locale.name, value, length) == 0)
      return locale.langId;
  }
  for (const LocaleName& locale :
       kLocales) {  // an unknown territory: the language's primary locale
    if (std::strlen(locale.name) == 2 && std::strncmp(locale.name, value, 2) == 0 &&
        (length == 2 || value[2] == '_'))
      return locale.langId;
  }
  return 0x0409;  // C, POSIX and anything unknown
}

}  // namespace

uint32_t ThreadLocale() { return LangIdFromEnvironment(); }

uint16_t UserDefaultLangId() { return LangIdFromEnvironment(); }

pe::LanguagePreference ResourceLanguages() {
  // One locale stands for the thread's, the user's and the system's languages alike.
  pe::LanguagePreference languages;
  languages.thread = static_cast<uint16_t>(ThreadLocale() & 0xFFFF);
  languages.user = UserDefaultLangId();
  languages.system = languages.user;
  return languages;
}

std::string AnsiFromUtf16(const std::u16string& text) {
  // Code unit by code unit: a surrogate pair becomes two default characters, as Windows gives it.
  std::string ansi(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i)
    ansi[i] = static_cast<char>(machine::UnicodeToCp1252(text[i], true));
  return ansi;
}

}  // namespace os
